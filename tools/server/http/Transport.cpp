// Boost first: Qt's keyword macros must not reach it.
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "Transport.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace beast = boost::beast;
namespace net = boost::asio;
namespace bhttp = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;
using std::chrono::milliseconds;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

namespace http {

namespace {

// What the thread that owns the transport hands over.
struct Outbound {
    enum class Kind { answer, accept, send, taken, close } kind = Kind::close;
    std::uint64_t connection = 0;
    std::uint64_t sequence = 0;
    Response response;
    std::shared_ptr<const std::string> text;
};

// An IPv4 client of a dual-stack listener as itself.
net::ip::address plain(const net::ip::address &address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
    return address;
}

std::string endpointText(const net::ip::address &address, unsigned short port) {
    return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" + std::to_string(port);
}

// The answers the transport gives itself, in the form of the server's own errors.
Response refusal(int status, const std::string &why) {
    std::string text;
    for (const char c : why)
        text += c == '"' ? std::string("\\\"") : std::string(1, c);
    return {status,
            {{"Cache-Control", "no-store"},
             {"X-Content-Type-Options", "nosniff"},
             {"Referrer-Policy", "no-referrer"},
             {"Content-Type", "application/json"}},
            "{\"error\":\"" + text + "\"}\n",
            true};
}

} // namespace

class Connection {
public:
    virtual ~Connection() = default;
    virtual void deliver(Outbound &item) = 0;
    virtual void abort() = 0;
};

class Transport::Impl {
public:
    Impl(QString frontEnd, ConnectionRules rules, Limits limits, std::function<void()> wake)
        : frontEnd(frontEnd.toStdString()), rules(std::move(rules)), limits(limits), wake(std::move(wake)) {}

    template <class Stream> void start(tcp::socket &&socket, const net::ip::address &peer, unsigned short port,
                                       const std::string &key);

    // The connection's place among those open: given back however the connection ends.
    class Slot {
    public:
        Slot(Impl &impl, std::string address, std::uint64_t id) : impl(impl), address(std::move(address)), id(id) {}
        ~Slot() { impl.release(*this); }
        Impl &impl;
        std::string address;
        std::uint64_t id;
    };

    void hand(Inbound item) {
        bool wasEmpty = false;
        {
            const std::lock_guard lock(mutex);
            wasEmpty = inbox.empty();
            inbox.push_back(std::move(item));
        }
        if (wasEmpty && !stopping)
            wake();
    }
    void log(std::string line) { hand({Inbound::Kind::event, 0, {}, frontEnd + ": " + std::move(line)}); }

    void post(Outbound item) {
        bool wasEmpty = false;
        {
            const std::lock_guard lock(mutex);
            wasEmpty = outbox.empty();
            outbox.push_back(std::move(item));
        }
        if (wasEmpty)
            net::post(ioc, [this] { drainOutbox(); });
    }

    void drainOutbox() {
        std::deque<Outbound> items;
        {
            const std::lock_guard lock(mutex);
            items.swap(outbox);
        }
        for (Outbound &item : items) {
            const auto found = connections.find(item.connection);
            if (found == connections.end())
                continue; // gone meanwhile
            if (const auto connection = found->second.lock())
                connection->deliver(item);
        }
    }

    void acceptNext();
    void release(const Slot &slot) {
        open.fetch_sub(1);
        if (--byAddress[slot.address] <= 0)
            byAddress.erase(slot.address);
        connections.erase(slot.id);
        hand({Inbound::Kind::closed, slot.id, {}, {}});
    }

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
    net::io_context ioc{1};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    std::optional<tcp::acceptor> acceptor;
    std::optional<net::ssl::context> tls; // HTTPS alone when set
    std::thread thread;
};

namespace {

using Impl = Transport::Impl;
using Slot = Impl::Slot;

// An events socket: text messages out through a bounded queue, text messages in one at a
// time, pings while it is quiet.
template <class Stream>
class EventsSession : public Connection, public std::enable_shared_from_this<EventsSession<Stream>> {
public:
    EventsSession(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream)
        : m_impl(impl), m_slot(std::move(slot)), m_socket(std::move(stream)) {}

    void run(bhttp::request<bhttp::string_body> request, std::vector<std::shared_ptr<const std::string>> early) {
        m_request = std::move(request);
        for (auto &text : early)
            queue(std::move(text));
        beast::get_lowest_layer(m_socket).expires_never(); // the WebSocket's own time-outs below
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = milliseconds(m_impl.limits.headTimeoutMs);
        timeout.idle_timeout = milliseconds(2 * std::int64_t(m_impl.limits.pingMs));
        timeout.keep_alive_pings = true;
        m_socket.set_option(timeout);
        m_socket.read_message_max(std::size_t(m_impl.limits.messageBytes));
        m_socket.set_option(websocket::stream_base::decorator(
            [](websocket::response_type &response) { response.erase(bhttp::field::server); }));
        m_socket.async_accept(m_request, [self = this->shared_from_this()](beast::error_code error) {
            if (error)
                return;
            self->m_open = true;
            self->read();
            self->write();
        });
    }

    void deliver(Outbound &item) override {
        switch (item.kind) {
        case Outbound::Kind::send:
            queue(std::move(item.text));
            write();
            break;
        case Outbound::Kind::taken:
            m_waiting = false;
            read();
            m_self.reset(); // the caller still holds it
            break;
        case Outbound::Kind::close:
            abort();
            break;
        case Outbound::Kind::answer:
        case Outbound::Kind::accept:
            break;
        }
    }

    void abort() override {
        beast::error_code ignored;
        beast::get_lowest_layer(m_socket).socket().close(ignored);
        m_self.reset(); // the caller still holds it
    }

private:
    void queue(std::shared_ptr<const std::string> text) {
        if (m_closing)
            return;
        if (m_unsent + text->size() > std::size_t(m_impl.limits.eventsUnsentBytes)) {
            // A page that stopped reading.
            m_closing = true;
            m_impl.log("events socket from " + m_slot->address + " closed: more than " +
                       std::to_string(m_impl.limits.eventsUnsentBytes) + " bytes unsent");
            abort();
            return;
        }
        m_unsent += text->size();
        m_queue.push_back(std::move(text));
    }

    void write() {
        if (!m_open || m_writing || m_closing || m_queue.empty())
            return;
        m_writing = true;
        m_socket.text(true);
        m_socket.async_write(net::buffer(*m_queue.front()),
                             [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                                 self->m_writing = false;
                                 if (error)
                                     return self->abort();
                                 self->m_unsent -= self->m_queue.front()->size();
                                 self->m_queue.pop_front();
                                 self->write();
                             });
    }

    // One message at a time: the next is read once the owner has taken this one.
    void read() {
        if (!m_open || m_reading || m_waiting || m_closing)
            return;
        m_reading = true;
        m_socket.async_read(m_buffer, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
            self->m_reading = false;
            if (error) {
                if (error == websocket::error::message_too_big)
                    self->m_impl.log("events socket from " + self->m_slot->address + " closed: a message over " +
                                     std::to_string(self->m_impl.limits.messageBytes) + " bytes");
                return self->abort();
            }
            if (self->m_socket.got_text()) {
                self->m_waiting = true;
                self->m_self = self; // until the message is taken
                self->m_impl.hand({Inbound::Kind::message, self->m_slot->id, {},
                                   beast::buffers_to_string(self->m_buffer.data())});
            }
            self->m_buffer.consume(self->m_buffer.size());
            self->read();
        });
    }

    Impl &m_impl;
    std::unique_ptr<Slot> m_slot;
    websocket::stream<Stream> m_socket;
    bhttp::request<bhttp::string_body> m_request;
    beast::flat_buffer m_buffer;
    std::deque<std::shared_ptr<const std::string>> m_queue;
    std::shared_ptr<EventsSession> m_self; // while a message waits to be taken
    std::size_t m_unsent = 0;
    bool m_open = false, m_writing = false, m_reading = false, m_waiting = false, m_closing = false;
};

// One HTTP connection: requests read one after another while at most `pipeline` wait for
// their answers, answers written strictly in the order of the requests.
template <class Stream>
class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    static constexpr bool secure = std::is_same_v<Stream, TlsStream>;

    HttpSession(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, net::ip::address peer, unsigned short peerPort)
        : m_impl(impl), m_limits(impl.limits), m_slot(std::move(slot)), m_stream(std::move(stream)),
          m_peer(peer.to_string()), m_peerPort(peerPort) {}

    // The TLS handshake and the first request's head share one time-out.
    void run() {
        m_firstDeadline = std::chrono::steady_clock::now() + milliseconds(m_limits.headTimeoutMs);
        if constexpr (secure) {
            lowest().expires_at(m_firstDeadline);
            m_stream.async_handshake(net::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code error) {
                if (error)
                    return self->handshakeFailed(error);
                self->readRequest();
            });
        } else {
            readRequest();
        }
    }

    void deliver(Outbound &item) override {
        if (item.kind == Outbound::Kind::send) {
            // For the socket this becomes, once the answers before it are sent.
            m_earlyBytes += item.text->size();
            if (m_earlyBytes > std::size_t(m_limits.eventsUnsentBytes))
                return abort();
            m_early.push_back(std::move(item.text));
            return;
        }
        if (item.kind == Outbound::Kind::close)
            return abort();
        if (item.kind != Outbound::Kind::answer && item.kind != Outbound::Kind::accept)
            return;
        const auto found = std::find_if(m_pending.begin(), m_pending.end(),
                                        [&](const Pending &pending) { return pending.sequence == item.sequence; });
        if (found == m_pending.end() || found->ready)
            return;
        found->ready = true;
        if (item.kind == Outbound::Kind::accept && found->upgrade) {
            found->accepted = true;
        } else {
            Response &given = item.response;
            auto response = std::make_unique<bhttp::response<bhttp::string_body>>();
            response->version(11);
            response->result(unsigned(given.status));
            for (const auto &[name, value] : given.headers)
                response->insert(name, value);
            if (given.status != 304) // a 304 has no body, and its length would be the 200's
                response->content_length(given.body.size());
            if (!found->head)
                response->body() = std::move(given.body);
            found->close = found->close || given.close || found->upgrade;
            response->keep_alive(!found->close);
            found->bytes = response->body().size() + 512;
            m_unsent += found->bytes;
            found->response = std::move(response);
        }
        write();
    }

    void abort() override {
        beast::error_code ignored;
        lowest().socket().close(ignored);
        m_pending.clear();
        m_self.reset(); // the caller still holds it
    }

private:
    beast::tcp_stream &lowest() { return beast::get_lowest_layer(m_stream); }

    // Nothing is answered in clear on the HTTPS listener.
    void handshakeFailed(beast::error_code error) {
        if (error != beast::error::timeout && error != net::error::eof && error != net::error::connection_reset &&
            error != net::error::operation_aborted) {
            const bool plainHttp = error.category() == net::error::get_ssl_category() &&
                                   ERR_GET_REASON(static_cast<unsigned long>(error.value())) == SSL_R_HTTP_REQUEST;
            m_impl.log("connection from " + endpointText(net::ip::make_address(m_peer), m_peerPort) + " refused: " +
                       (plainHttp ? std::string("plain HTTP; this listener takes HTTPS alone")
                                  : "no TLS handshake (" + error.message() + ")"));
        }
        abort();
    }

    struct Pending {
        std::uint64_t sequence = 0;
        bool head = false;     // HEAD: the headers alone
        bool upgrade = false;  // asks for a WebSocket
        bool ready = false;
        bool accepted = false; // the WebSocket is granted
        bool close = false;
        std::size_t bytes = 0;
        std::unique_ptr<bhttp::response<bhttp::string_body>> response;
    };

    void readRequest() {
        if (m_reading || m_stopped || int(m_pending.size()) >= m_limits.pipeline || m_unsent > std::size_t(m_limits.unsentBytes))
            return; // taken up again as answers go out
        m_reading = true;
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(m_limits.headBytes));
        m_parser->body_limit(std::uint64_t(m_limits.bodyBytes));
        if (m_buffer.size() > 0 || m_served == 0)
            return readHead();
        // Between requests: idle until the next one begins.
        lowest().expires_after(milliseconds(m_limits.idleTimeoutMs));
        m_stream.async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](beast::error_code error, std::size_t bytes) {
                                     self->m_buffer.commit(bytes);
                                     if (error)
                                         return self->readFailed(error);
                                     self->readHead();
                                 });
    }

    void readHead() {
        if (m_served == 0)
            lowest().expires_at(m_firstDeadline);
        else
            lowest().expires_after(milliseconds(m_limits.headTimeoutMs));
        bhttp::async_read_header(m_stream, m_buffer, *m_parser,
                                 [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                                     if (error)
                                         return self->readFailed(error);
                                     if (self->m_parser->is_done())
                                         return self->requestRead();
                                     self->lowest().expires_after(milliseconds(self->m_limits.headTimeoutMs));
                                     bhttp::async_read(self->m_stream, self->m_buffer, *self->m_parser,
                                                       [self](beast::error_code error, std::size_t) {
                                                           if (error)
                                                               return self->readFailed(error);
                                                           self->requestRead();
                                                       });
                                 });
    }

    void readFailed(beast::error_code error) {
        m_reading = false;
        if (error == bhttp::error::header_limit)
            return refuse(431, "a request's head is at most " + std::to_string(m_limits.headBytes) + " bytes");
        if (error == bhttp::error::body_limit)
            return refuse(413, "a request's body is at most " + std::to_string(m_limits.bodyBytes) + " bytes");
        if (error.category() == bhttp::make_error_code(bhttp::error::end_of_stream).category() &&
            error != bhttp::error::end_of_stream && error != bhttp::error::partial_message &&
            error != bhttp::error::short_read)
            return refuse(400, "not an HTTP request");
        // The client has gone, or said nothing in time: whatever is answered already still goes.
        m_stopped = true;
        if (error == beast::error::timeout)
            return abort();
        finishIfDone();
    }

    void requestRead() {
        m_reading = false;
        ++m_served;
        bhttp::request<bhttp::string_body> request = m_parser->release();
        Pending pending;
        pending.sequence = m_served;
        pending.head = request.method() == bhttp::verb::head;
        pending.upgrade = websocket::is_upgrade(request);
        pending.close = !request.keep_alive();
        Request handed;
        handed.sequence = pending.sequence;
        handed.method = std::string(request.method_string());
        handed.target = std::string(request.target());
        for (const auto &field : request)
            handed.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        handed.peer = m_peer;
        handed.peerPort = m_peerPort;
        handed.upgrade = pending.upgrade;
        handed.secure = secure;
        if (pending.upgrade) {
            m_upgrade = std::move(request); // nothing is read after it
            m_stopped = true;
        } else {
            handed.body = std::move(request.body());
            m_stopped = pending.close;
        }
        m_pending.push_back(std::move(pending));
        m_self = this->shared_from_this(); // nothing else may hold it while the answer is made
        m_impl.hand({Inbound::Kind::request, m_slot->id, std::move(handed), {}});
        readRequest();
    }

    // An answer of the transport's own: the request cannot be read; the connection closes
    // once the answers before it are sent.
    void refuse(int status, const std::string &why) {
        m_stopped = true;
        m_impl.log("request from " + endpointText(net::ip::make_address(m_peer), m_peerPort) + " refused: " + why);
        Pending pending;
        pending.sequence = ++m_served;
        m_pending.push_back(std::move(pending));
        m_self = this->shared_from_this();
        Outbound item{Outbound::Kind::answer, m_slot->id, m_served, refusal(status, why), {}};
        deliver(item);
    }

    void write() {
        if (m_writing)
            return;
        if (m_pending.empty() || !m_pending.front().ready)
            return finishIfDone();
        Pending &front = m_pending.front();
        if (front.accepted)
            return becomeWebSocket();
        m_writing = true;
        lowest().expires_after(milliseconds(m_limits.sendTimeoutMs));
        bhttp::async_write(m_stream, *front.response, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
            self->m_writing = false;
            if (error)
                return self->abort();
            const Pending done = std::move(self->m_pending.front());
            self->m_pending.pop_front();
            self->m_unsent -= done.bytes;
            if (self->m_pending.empty())
                self->m_self.reset(); // the handler's own reference keeps it to the end
            if (done.close) {
                self->m_stopped = true;
                self->m_pending.clear();
                return self->linger();
            }
            self->write();
            self->readRequest();
        });
    }

    void finishIfDone() {
        if (m_stopped && !m_reading && !m_writing && m_pending.empty() && !m_lingering)
            linger();
    }

    // Ends the sending side and reads (and drops) what the client still sends for a while,
    // so that a client still sending sees its answer rather than a reset. Over TLS, the
    // closing exchange does that reading.
    void linger() {
        if (m_lingering)
            return;
        m_lingering = true;
        lowest().expires_after(milliseconds(std::min(m_limits.headTimeoutMs, 2000)));
        if constexpr (secure) {
            m_stream.async_shutdown([self = this->shared_from_this()](beast::error_code) { self->abort(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            drain();
        }
    }

    void drain() {
        m_stream.async_read_some(net::buffer(m_drain), [self = this->shared_from_this()](beast::error_code error, std::size_t bytes) {
            self->m_drained += bytes;
            if (error || self->m_drained > std::size_t(4) * 1024 * 1024)
                return self->abort();
            self->drain();
        });
    }

    void becomeWebSocket() {
        m_pending.clear();
        const std::uint64_t id = m_slot->id;
        auto events = std::make_shared<EventsSession<Stream>>(m_impl, std::move(m_slot), std::move(m_stream));
        m_impl.connections[id] = events;
        events->run(std::move(*m_upgrade), std::move(m_early));
        m_self.reset();
    }

    Impl &m_impl;
    const Limits &m_limits;
    std::unique_ptr<Slot> m_slot;
    Stream m_stream;
    beast::flat_buffer m_buffer;
    std::chrono::steady_clock::time_point m_firstDeadline;
    std::optional<bhttp::request_parser<bhttp::string_body>> m_parser;
    std::optional<bhttp::request<bhttp::string_body>> m_upgrade;
    std::vector<std::shared_ptr<const std::string>> m_early;
    std::size_t m_earlyBytes = 0;
    std::deque<Pending> m_pending;
    std::shared_ptr<HttpSession> m_self; // while answers are awaited
    std::size_t m_unsent = 0;
    std::uint64_t m_served = 0;
    bool m_reading = false, m_writing = false, m_stopped = false, m_lingering = false;
    std::string m_peer;
    unsigned short m_peerPort;
    char m_drain[4096];
    std::size_t m_drained = 0;
};

} // namespace

template <class Stream>
void Transport::Impl::start(tcp::socket &&socket, const net::ip::address &peer, unsigned short port,
                            const std::string &key) {
    open.fetch_add(1);
    ++byAddress[key];
    const std::uint64_t id = nextId++;
    auto stream = [&] {
        if constexpr (std::is_same_v<Stream, TlsStream>)
            return Stream(std::move(socket), *tls);
        else
            return Stream(std::move(socket));
    };
    auto session = std::make_shared<HttpSession<Stream>>(*this, std::make_unique<Slot>(*this, key, id), stream(), peer,
                                                         port);
    connections[id] = session;
    session->run();
}

void Transport::Impl::acceptNext() {
    acceptor->async_accept([self = this](beast::error_code error, tcp::socket socket) {
        if (self->stopping)
            return;
        if (error) {
            // No descriptor left, most likely: try again a moment later rather than stop accepting.
            self->log("cannot accept a connection: " + error.message() + "; trying again in a second");
            auto timer = std::make_shared<net::steady_timer>(self->ioc, std::chrono::seconds(1));
            timer->async_wait([self, timer](beast::error_code) { self->acceptNext(); });
            return;
        }
        beast::error_code ignored;
        const tcp::endpoint remote = socket.remote_endpoint(ignored);
        const net::ip::address peer = plain(remote.address());
        const std::string key = peer.to_string();
        const QHostAddress qtPeer(QString::fromStdString(key));
        const bool local = peer.is_loopback();
        std::string refusal;
        if (!local && !self->rules.allowed.isEmpty() &&
            std::none_of(self->rules.allowed.begin(), self->rules.allowed.end(),
                         [&](const Subnet &subnet) { return qtPeer.isInSubnet(subnet); }))
            refusal = "not on the allow-list";
        else if (self->open.load() >= self->rules.total)
            refusal = std::to_string(self->open.load()) + " connections open";
        else if (!(local && self->rules.loopbackExempt) && self->byAddress[key] >= self->rules.perAddress)
            refusal = std::to_string(self->byAddress[key]) + " connections open from that address";
        if (!refusal.empty()) {
            if (self->byAddress[key] == 0)
                self->byAddress.erase(key);
            self->log("connection from " + endpointText(peer, remote.port()) + " refused: " + refusal);
            socket.close(ignored);
        } else {
            if (self->tls)
                self->start<TlsStream>(std::move(socket), peer, remote.port(), key);
            else
                self->start<beast::tcp_stream>(std::move(socket), peer, remote.port(), key);
        }
        self->acceptNext();
    });
}

Transport::Transport(QString frontEnd, ConnectionRules rules, Limits limits, std::function<void()> wake)
    : m_impl(std::make_unique<Impl>(std::move(frontEnd), std::move(rules), limits, std::move(wake))) {}

bool Transport::serveTls(const Tls &tls, QString *error) {
    if (const std::string problem = tlsProblem(tls); !problem.empty()) {
        *error = QString::fromStdString(problem);
        return false;
    }
    net::ssl::context &context = m_impl->tls.emplace(net::ssl::context::tls_server);
    context.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                        net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1 |
                        net::ssl::context::single_dh_use);
    context.set_password_callback([](std::size_t, net::ssl::context::password_purpose) { return std::string(); });
    context.use_certificate_chain(net::buffer(tls.certificate));
    context.use_private_key(net::buffer(tls.key), net::ssl::context::pem);
    return true;
}

Transport::~Transport() {
    Impl &impl = *m_impl;
    impl.stopping = true;
    if (impl.thread.joinable()) {
        impl.ioc.stop();
        impl.thread.join();
    }
    // The connections end with the context's handlers that own them, as m_impl goes.
}

bool Transport::listen(const ListenAddress &address, QString *error) {
    Impl &impl = *m_impl;
    beast::error_code failure;
    const net::ip::address ip = net::ip::make_address(address.address.toString().toStdString(), failure);
    if (failure) {
        *error = QString::fromStdString(failure.message());
        return false;
    }
    tcp::endpoint endpoint(ip, address.port);
    impl.acceptor.emplace(impl.ioc);
    const auto fail = [&](const beast::error_code &why) {
        *error = QString::fromStdString(why.message());
        impl.acceptor.reset();
        return false;
    };
    if (impl.acceptor->open(endpoint.protocol(), failure); failure)
        return fail(failure);
    impl.acceptor->set_option(net::socket_base::reuse_address(true), failure);
    if (ip.is_v6())
        impl.acceptor->set_option(net::ip::v6_only(true), failure); // as given: [::] is IPv6 alone
    if (impl.acceptor->bind(endpoint, failure); failure)
        return fail(failure);
    // Clients that connect for each request may come in bursts: room for a whole cap of them.
    if (impl.acceptor->listen(std::max(impl.rules.total, 16), failure); failure)
        return fail(failure);
    const tcp::endpoint bound = impl.acceptor->local_endpoint(failure);
    m_address = QString::fromStdString(endpointText(plain(bound.address()), bound.port()));
    impl.work.emplace(impl.ioc.get_executor());
    impl.acceptNext();
    impl.thread = std::thread([&impl] { impl.ioc.run(); });
    return true;
}

int Transport::open() const { return m_impl->open.load(); }

std::vector<Inbound> Transport::take() {
    std::deque<Inbound> items;
    {
        const std::lock_guard lock(m_impl->mutex);
        items.swap(m_impl->inbox);
    }
    return {std::make_move_iterator(items.begin()), std::make_move_iterator(items.end())};
}

void Transport::answer(std::uint64_t connection, std::uint64_t sequence, Response response) {
    m_impl->post({Outbound::Kind::answer, connection, sequence, std::move(response), {}});
}

void Transport::accept(std::uint64_t connection, std::uint64_t sequence) {
    m_impl->post({Outbound::Kind::accept, connection, sequence, {}, {}});
}

void Transport::send(std::uint64_t connection, std::shared_ptr<const std::string> text) {
    m_impl->post({Outbound::Kind::send, connection, 0, {}, std::move(text)});
}

void Transport::taken(std::uint64_t connection) { m_impl->post({Outbound::Kind::taken, connection, 0, {}, {}}); }

void Transport::close(std::uint64_t connection) { m_impl->post({Outbound::Kind::close, connection, 0, {}, {}}); }

} // namespace http
