// One HTTP connection, over TCP or TLS.

#include <boost/asio/buffer.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "TransportImpl.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace http::transport {

namespace {

namespace websocket = boost::beast::websocket;
using std::chrono::milliseconds;

// One HTTP connection: requests read one after another while at most `pipeline` wait for
// their answers, answers written strictly in the order of the requests.
class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, net::ip::address peer, unsigned short peerPort)
        : m_impl(impl), m_limits(impl.limits), m_slot(std::move(slot)), m_stream(std::move(stream)),
          m_peer(peer.to_string()), m_peerPort(peerPort) {}

    // The TLS handshake and the first request's head share one time-out.
    void run() {
        m_firstDeadline = std::chrono::steady_clock::now() + milliseconds(m_limits.headTimeoutMs);
        if (m_stream.secure()) {
            lowest().expires_at(m_firstDeadline);
            m_stream.async_handshake([self = shared_from_this()](beast::error_code error) {
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
                                 [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
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
                                 [self = shared_from_this()](beast::error_code error, std::size_t) {
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
        handed.secure = m_stream.secure();
        if (pending.upgrade) {
            m_upgrade = std::move(request); // nothing is read after it
            m_stopped = true;
        } else {
            handed.body = std::move(request.body());
            m_stopped = pending.close;
        }
        m_pending.push_back(std::move(pending));
        m_self = shared_from_this(); // nothing else may hold it while the answer is made
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
        m_self = shared_from_this();
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
        bhttp::async_write(m_stream, *front.response, [self = shared_from_this()](beast::error_code error, std::size_t) {
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
        if (m_stream.secure()) {
            m_stream.async_shutdown([self = shared_from_this()](beast::error_code) { self->abort(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            drain();
        }
    }

    void drain() {
        m_stream.async_read_some(net::buffer(m_drain), [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
            self->m_drained += bytes;
            if (error || self->m_drained > std::size_t(4) * 1024 * 1024)
                return self->abort();
            self->drain();
        });
    }

    void becomeWebSocket() {
        m_pending.clear();
        startEvents(m_impl, std::move(m_slot), std::move(m_stream), std::move(*m_upgrade), std::move(m_early));
        m_self.reset();
    }

    Impl &m_impl;
    const Limits &m_limits;
    std::unique_ptr<Slot> m_slot;
    Stream m_stream;
    beast::flat_buffer m_buffer;
    std::chrono::steady_clock::time_point m_firstDeadline;
    std::optional<bhttp::request_parser<bhttp::string_body>> m_parser;
    std::optional<UpgradeRequest> m_upgrade;
    Texts m_early;
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

void startHttp(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, const net::ip::address &peer,
               unsigned short peerPort) {
    const std::uint64_t id = slot->id;
    auto session = std::make_shared<HttpSession>(impl, std::move(slot), std::move(stream), peer, peerPort);
    impl.connections[id] = session;
    session->run();
}

} // namespace http::transport
