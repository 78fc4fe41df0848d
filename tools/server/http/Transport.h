#pragma once

// The HTTP and WebSocket side of the server, on an I/O thread of its own: connections, the
// HTTP parser and its limits, time-outs, answers in order, the events sockets' frames. What
// requests mean, and every answer's content, stay on the thread that owns the Transport (the
// line queue's); the two hand over through mutex-guarded queues, and a queued call only
// wakes the other side.

#include "Listener.h"
#include "Tls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace http {

// What one connection may cost the server.
struct Limits {
    int headBytes = 16 * 1024;     // a request's line and headers; 431 past it
    int bodyBytes = 64 * 1024;     // a request's body; 413 past it
    int headTimeoutMs = 10'000;    // a request's head (and then its body) must arrive within this
    int idleTimeoutMs = 60'000;    // a keep-alive connection with nothing asked is closed after this
    int sendTimeoutMs = 30'000;    // an answer that the client does not take for this long closes it
    int pipeline = 8;              // requests answered or waiting on one connection; reading waits beyond
    int unsentBytes = 256 * 1024;  // answers not yet taken by one client; reading waits beyond
    int eventsUnsentBytes = 256 * 1024; // an events socket with more than this unsent is closed
    int messageBytes = 4096;       // a WebSocket message from a page; larger frames are refused by their header
    int pingMs = 30'000;           // an events socket silent this long is pinged, and closed if still silent as long again
};

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::uint64_t sequence = 0; // its place among the connection's requests
    std::string method;         // "GET", as sent
    std::string target;         // "/api/status?x=1", as sent
    Fields headers;             // as sent, in order
    std::string body;
    std::string peer;           // the client's address, an IPv4 one as itself
    unsigned short peerPort = 0;
    bool upgrade = false;       // asks for a WebSocket
    bool secure = false;        // came over TLS
};

struct Response {
    int status = 200;
    Fields headers; // Content-Length is the transport's
    std::string body;
    bool close = false; // close the connection once this is sent
};

// What the I/O thread hands over.
struct Inbound {
    enum class Kind { request, message, closed, event } kind = Kind::event;
    std::uint64_t connection = 0;
    Request request; // kind request
    std::string text; // a WebSocket text message (kind message), or a line for the log (kind event)
};

class Transport {
public:
    // `wake` is called on the I/O thread when something waits in take() where nothing did.
    Transport(QString frontEnd, ConnectionRules rules, Limits limits, std::function<void()> wake);
    ~Transport(); // ends every connection and the I/O thread
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    // Serves HTTPS alone with this certificate and key, from the next listen() on; false with
    // the reason (naming the file) when they cannot be used.
    bool serveTls(const Tls &tls, QString *error);
    // Binds and starts the I/O thread; false with the reason when the address cannot be used.
    bool listen(const ListenAddress &address, QString *error);
    // "127.0.0.1:8735", "[::]:8735", the port as bound.
    QString address() const { return m_address; }
    // Connections open now, upgraded or not.
    int open() const;

    // Everything handed over since the last call, in order.
    std::vector<Inbound> take();

    // The answer to a request; every request gets exactly one, answer() or accept().
    void answer(std::uint64_t connection, std::uint64_t sequence, Response response);
    // Turns the connection into a WebSocket once the answers before this request are sent.
    void accept(std::uint64_t connection, std::uint64_t sequence);
    // A text message on a WebSocket; one text may go to many.
    void send(std::uint64_t connection, std::shared_ptr<const std::string> text);
    // The message taken: the socket may read the next one.
    void taken(std::uint64_t connection);
    void close(std::uint64_t connection);

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
    QString m_address;
};

} // namespace http
