// An events socket: a WebSocket on an HTTP connection whose upgrade was granted.

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>

#include "TransportImpl.h"

#include <chrono>
#include <cstdint>

namespace http::transport {

namespace {

namespace websocket = boost::beast::websocket;
using std::chrono::milliseconds;

// An events socket: text messages out through a bounded queue, text messages in one at a
// time, pings while it is quiet.
class EventsSession : public Connection, public std::enable_shared_from_this<EventsSession> {
public:
    EventsSession(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream)
        : m_impl(impl), m_slot(std::move(slot)), m_socket(std::move(stream)) {}

    void run(UpgradeRequest request, Texts early) {
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
        m_socket.async_accept(m_request, [self = shared_from_this()](beast::error_code error) {
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
                             [self = shared_from_this()](beast::error_code error, std::size_t) {
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
        m_socket.async_read(m_buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
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
    UpgradeRequest m_request;
    beast::flat_buffer m_buffer;
    std::deque<std::shared_ptr<const std::string>> m_queue;
    std::shared_ptr<EventsSession> m_self; // while a message waits to be taken
    std::size_t m_unsent = 0;
    bool m_open = false, m_writing = false, m_reading = false, m_waiting = false, m_closing = false;
};

} // namespace

void startEvents(Impl &impl, std::unique_ptr<Slot> slot, Stream &&stream, UpgradeRequest request, Texts early) {
    const std::uint64_t id = slot->id;
    auto events = std::make_shared<EventsSession>(impl, std::move(slot), std::move(stream));
    impl.connections[id] = events;
    events->run(std::move(request), std::move(early));
}

} // namespace http::transport
