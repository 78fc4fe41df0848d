// Boost first: Qt's keyword macros must not reach it.
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "TransportImpl.h"

#include <algorithm>

namespace http {

using namespace transport;

namespace transport {

net::ip::address plain(const net::ip::address &address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
    return address;
}

std::string endpointText(const net::ip::address &address, unsigned short port) {
    return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" + std::to_string(port);
}

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

} // namespace transport

void Transport::Impl::hand(Inbound item) {
    bool wasEmpty = false;
    {
        const std::lock_guard lock(mutex);
        wasEmpty = inbox.empty();
        inbox.push_back(std::move(item));
    }
    if (wasEmpty && !stopping)
        wake();
}

void Transport::Impl::post(Outbound item) {
    bool wasEmpty = false;
    {
        const std::lock_guard lock(mutex);
        wasEmpty = outbox.empty();
        outbox.push_back(std::move(item));
    }
    if (wasEmpty)
        net::post(ioc, [this] { drainOutbox(); });
}

void Transport::Impl::drainOutbox() {
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

void Transport::Impl::release(const Slot &slot) {
    open.fetch_sub(1);
    if (--byAddress[slot.address] <= 0)
        byAddress.erase(slot.address);
    connections.erase(slot.id);
    hand({Inbound::Kind::closed, slot.id, {}, {}});
}

void Transport::Impl::start(tcp::socket &&socket, const net::ip::address &peer, unsigned short port,
                            const std::string &key) {
    open.fetch_add(1);
    ++byAddress[key];
    auto slot = std::make_unique<Slot>(*this, key, nextId++);
    beast::tcp_stream tcp(std::move(socket));
    startHttp(*this, std::move(slot), tls ? Stream(std::move(tcp), *tls) : Stream(std::move(tcp)), peer, port);
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
            self->start(std::move(socket), peer, remote.port(), key);
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
