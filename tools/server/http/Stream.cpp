#include "Stream.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/teardown.hpp>

#include <type_traits>
#include <utility>

namespace http::transport {

using TlsStream = beast::ssl_stream<beast::tcp_stream>;

class Stream::Layer {
public:
    virtual ~Layer() = default;
    virtual bool secure() const = 0;
    virtual beast::tcp_stream &tcp() = 0;
    virtual void readSome(const Buffers<net::mutable_buffer> &buffers, IoHandler handler) = 0;
    virtual void writeSome(const Buffers<net::const_buffer> &buffers, IoHandler handler) = 0;
    virtual void handshake(DoneHandler handler) = 0;
    virtual void shutdown(DoneHandler handler) = 0;
    virtual void teardown(beast::role_type role, DoneHandler handler) = 0;
};

namespace {

template <class Next> class LayerOn final : public Stream::Layer {
public:
    template <class... Arguments> explicit LayerOn(Arguments &&...arguments) : m_next(std::forward<Arguments>(arguments)...) {}

    bool secure() const override { return std::is_same_v<Next, TlsStream>; }
    beast::tcp_stream &tcp() override { return beast::get_lowest_layer(m_next); }
    void readSome(const Stream::Buffers<net::mutable_buffer> &buffers, Stream::IoHandler handler) override {
        m_next.async_read_some(buffers, onStream(std::move(handler)));
    }
    void writeSome(const Stream::Buffers<net::const_buffer> &buffers, Stream::IoHandler handler) override {
        m_next.async_write_some(buffers, onStream(std::move(handler)));
    }
    void handshake(Stream::DoneHandler handler) override {
        if constexpr (std::is_same_v<Next, TlsStream>)
            m_next.async_handshake(net::ssl::stream_base::server, onStream(std::move(handler)));
        else
            net::post(m_next.get_executor(), [handler = std::move(handler)]() mutable { std::move(handler)(beast::error_code()); });
    }
    void shutdown(Stream::DoneHandler handler) override {
        if constexpr (std::is_same_v<Next, TlsStream>)
            m_next.async_shutdown(onStream(std::move(handler)));
        else
            net::post(m_next.get_executor(), [handler = std::move(handler)]() mutable { std::move(handler)(beast::error_code()); });
    }
    void teardown(beast::role_type role, Stream::DoneHandler handler) override {
        using beast::websocket::async_teardown;
        async_teardown(role, m_next, onStream(std::move(handler)));
    }

private:
    // Completes on the stream's executor, as the handler it stands for did: the erased
    // handler's own executor cannot be asked never to block, which a post needs.
    template <class Handler> auto onStream(Handler &&handler) {
        return net::bind_executor(m_next.get_executor(), std::forward<Handler>(handler));
    }

    Next m_next;
};

} // namespace

Stream::Stream(beast::tcp_stream &&tcp) : m_layer(std::make_unique<LayerOn<beast::tcp_stream>>(std::move(tcp))) {}
Stream::Stream(beast::tcp_stream &&tcp, net::ssl::context &tls)
    : m_layer(std::make_unique<LayerOn<TlsStream>>(std::move(tcp), tls)) {}
Stream::Stream(Stream &&) noexcept = default;
Stream &Stream::operator=(Stream &&) noexcept = default;
Stream::~Stream() = default;

bool Stream::secure() const { return m_layer->secure(); }
beast::tcp_stream &Stream::next_layer() { return m_layer->tcp(); }
Stream::executor_type Stream::get_executor() { return m_layer->tcp().get_executor(); }
void Stream::async_handshake(DoneHandler handler) { m_layer->handshake(std::move(handler)); }
void Stream::async_shutdown(DoneHandler handler) { m_layer->shutdown(std::move(handler)); }
void Stream::readSome(const Buffers<net::mutable_buffer> &buffers, IoHandler handler) {
    m_layer->readSome(buffers, std::move(handler));
}
void Stream::writeSome(const Buffers<net::const_buffer> &buffers, IoHandler handler) {
    m_layer->writeSome(buffers, std::move(handler));
}
void Stream::teardown(beast::role_type role, DoneHandler handler) { m_layer->teardown(role, std::move(handler)); }

} // namespace http::transport
