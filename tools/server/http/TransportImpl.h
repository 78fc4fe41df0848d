#pragma once

// The transport's inside, shared by the files it is built from: the I/O thread's state, and
// the sessions' entry points. The HTTP and the WebSocket sessions are compiled apart, so that
// a build's cores share their code generation, the costliest in the server.
//
// Include it before any Qt header: Qt's keyword macros must not reach Boost.

#include <boost/asio/io_context.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "Stream.h"
#include "Transport.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace http {

namespace transport {

namespace bhttp = boost::beast::http;
using tcp = boost::asio::ip::tcp;
using UpgradeRequest = bhttp::request<bhttp::string_body>;
using Texts = std::vector<std::shared_ptr<const std::string>>;

// What the thread that owns the transport hands over.
struct Outbound {
    enum class Kind { answer, accept, send, taken, close } kind = Kind::close;
    std::uint64_t connection = 0;
    std::uint64_t sequence = 0;
    Response response;
    std::shared_ptr<const std::string> text;
};

// An IPv4 client of a dual-stack listener as itself.
net::ip::address plain(const net::ip::address &address);
std::string endpointText(const net::ip::address &address, unsigned short port);
// The answers the transport gives itself, in the form of the server's own errors.
Response refusal(int status, const std::string &why);

class Connection {
public:
    virtual ~Connection() = default;
    virtual void deliver(Outbound &item) = 0;
    virtual void abort() = 0;
};

} // namespace transport

class Transport::Impl {
public:
    using Outbound = transport::Outbound;
    using Connection = transport::Connection;

    Impl(QString frontEnd, ConnectionRules rules, Limits limits, std::function<void()> wake)
        : frontEnd(frontEnd.toStdString()), rules(std::move(rules)), limits(limits), wake(std::move(wake)) {}

    // The connection's place among those open: given back however the connection ends.
    class Slot {
    public:
        Slot(Impl &impl, std::string address, std::uint64_t id) : impl(impl), address(std::move(address)), id(id) {}
        ~Slot() { impl.release(*this); }
        Impl &impl;
        std::string address;
        std::uint64_t id;
    };

    void hand(Inbound item);
    void log(std::string line) { hand({Inbound::Kind::event, 0, {}, frontEnd + ": " + std::move(line)}); }
    void post(Outbound item);
    void drainOutbox();
    void acceptNext();
    void start(transport::tcp::socket &&socket, const transport::net::ip::address &peer, unsigned short port,
               const std::string &key);
    void release(const Slot &slot);

    const std::string frontEnd;
    const ConnectionRules rules;
    const Limits limits;
    const std::function<void()> wake;
    std::atomic<bool> stopping{false};
    std::atomic<int> open{0};

    std::mutex mutex;
    std::deque<Inbound> inbox;
    std::deque<Outbound> outbox;

    // The I/O thread's own.
    std::uint64_t nextId = 1;
    std::unordered_map<std::string, int> byAddress;
    std::unordered_map<std::uint64_t, std::weak_ptr<Connection>> connections;

    // Declared after everything a connection gives back as it ends: the handlers that the
    // context still holds when it goes own the last connections.
    transport::net::io_context ioc{1};
    std::optional<transport::net::executor_work_guard<transport::net::io_context::executor_type>> work;
    std::optional<transport::tcp::acceptor> acceptor;
    std::optional<transport::net::ssl::context> tls; // HTTPS alone when set
    std::thread thread;
};

namespace transport {

using Impl = Transport::Impl;
using Slot = Impl::Slot;

// An HTTP connection on a stream just accepted (HttpSession.cpp); over TLS, the handshake first.
void startHttp(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, const net::ip::address &peer,
               unsigned short peerPort);
// The events socket an HTTP connection becomes once its upgrade is granted (EventsSession.cpp),
// with the texts sent to it before.
void startEvents(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, UpgradeRequest request, Texts early);

} // namespace transport

} // namespace http
