#pragma once

// A connection's bytes, over TCP or TLS on it, behind one type. The HTTP and WebSocket code
// above it (Beast's parser, serializer and frames, the sessions) is compiled once rather than
// once for each kind of connection: their instantiations were most of the server's build.
// Each read or write goes through a virtual call and a type-erased handler, which costs
// nothing a client could tell.
//
// Include it before any Qt header: Qt's keyword macros must not reach Boost.

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <array>
#include <cstddef>
#include <memory>

namespace http::transport {

namespace beast = boost::beast;
namespace net = boost::asio;

class Stream {
public:
    using executor_type = beast::tcp_stream::executor_type;
    using IoHandler = net::any_completion_handler<void(beast::error_code, std::size_t)>;
    using DoneHandler = net::any_completion_handler<void(beast::error_code)>;

    // At most this many of an operation's buffers are taken at once; a read or write may
    // always do less than it is asked.
    static constexpr std::size_t gathered = 16;
    template <class Buffer> struct Buffers {
        std::array<Buffer, gathered> buffers{};
        const Buffer *begin() const { return buffers.data(); }
        const Buffer *end() const { return buffers.data() + count; }
        std::size_t count = 0;
    };

    explicit Stream(beast::tcp_stream &&tcp);                   // plain
    Stream(beast::tcp_stream &&tcp, net::ssl::context &tls);    // TLS on it, as a server
    Stream(Stream &&) noexcept;
    Stream &operator=(Stream &&) noexcept;
    ~Stream();

    bool secure() const;
    // The TCP stream underneath, with its time-outs (beast::get_lowest_layer finds it).
    beast::tcp_stream &next_layer();
    executor_type get_executor();

    // The server's TLS handshake and closing exchange; on a plain stream they succeed at once.
    void async_handshake(DoneHandler handler);
    void async_shutdown(DoneHandler handler);

    template <class MutableBuffers, class Token> auto async_read_some(const MutableBuffers &buffers, Token &&token) {
        return net::async_initiate<Token, void(beast::error_code, std::size_t)>(
            [this](auto handler, const Buffers<net::mutable_buffer> &taken) {
                readSome(taken, IoHandler(std::move(handler)));
            },
            token, gather<net::mutable_buffer>(buffers));
    }
    template <class ConstBuffers, class Token> auto async_write_some(const ConstBuffers &buffers, Token &&token) {
        return net::async_initiate<Token, void(beast::error_code, std::size_t)>(
            [this](auto handler, const Buffers<net::const_buffer> &taken) {
                writeSome(taken, IoHandler(std::move(handler)));
            },
            token, gather<net::const_buffer>(buffers));
    }

    // How a WebSocket on it ends (websocket::stream finds it by the stream's type).
    template <class Token> friend auto async_teardown(beast::role_type role, Stream &stream, Token &&token) {
        return net::async_initiate<Token, void(beast::error_code)>(
            [&stream, role](auto handler) { stream.teardown(role, DoneHandler(std::move(handler))); }, token);
    }

    class Layer;

private:
    template <class Buffer, class Sequence> static Buffers<Buffer> gather(const Sequence &sequence) {
        Buffers<Buffer> taken;
        for (auto at = net::buffer_sequence_begin(sequence), end = net::buffer_sequence_end(sequence);
             at != end && taken.count < gathered; ++at) {
            const Buffer buffer(*at);
            if (buffer.size() > 0)
                taken.buffers[taken.count++] = buffer;
        }
        return taken;
    }

    void readSome(const Buffers<net::mutable_buffer> &buffers, IoHandler handler);
    void writeSome(const Buffers<net::const_buffer> &buffers, IoHandler handler);
    void teardown(beast::role_type role, DoneHandler handler);

    std::unique_ptr<Layer> m_layer;
};

} // namespace http::transport
