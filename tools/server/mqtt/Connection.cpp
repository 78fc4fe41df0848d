#include "Connection.h"

#include "Log.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>

namespace mqtt {

namespace {

constexpr int keepAliveSeconds = 30;
// The library sends its pings and notices a silent broker only when asked to look.
constexpr int housekeepingMs = 1000;

void initLibrary() {
    // Once for the process; nothing it sets up needs undoing before the process ends.
    static const int done = mosquitto_lib_init();
    Q_UNUSED(done);
}

QString reasonOf(int rc, int error) {
    return rc == MOSQ_ERR_ERRNO ? qt_error_string(error) : QString::fromUtf8(mosquitto_strerror(rc));
}

// The refusals that mean the user name or password (MQTT 3.1.1: 4 bad user name or
// password, 5 not authorised; brokers answer either).
bool refusesCredentials(int connack) { return connack == 4 || connack == 5; }

} // namespace

Connection::Connection(const Settings &settings, const QByteArray &clientId, std::optional<Will> will, QObject *parent)
    : QObject(parent), m_settings(settings), m_clientId(clientId), m_will(std::move(will)) {
    initLibrary();
    m_clock.start();
    m_mosq = mosquitto_new(m_clientId.constData(), true, this);
    Q_CHECK_PTR(m_mosq);
    setUp();
    m_housekeeping.setInterval(housekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, &Connection::housekeeping);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Connection::attempt);
    m_connectTimeout.setSingleShot(true);
    m_connectTimeout.setInterval(connectTimeoutMs);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this] {
        // No CONNACK, or not even the TCP handshake: a fresh client state drops the socket
        // without a word to a broker that may be half there.
        unwatchSocket();
        mosquitto_reinitialise(m_mosq, m_clientId.constData(), true, this);
        setUp();
        failed(QStringLiteral("silent"), QStringLiteral("no answer from the broker at %1 within %2 s; trying again")
                                             .arg(where())
                                             .arg(connectTimeoutMs / 1000));
    });
}

Connection::~Connection() {
    close();
    mosquitto_destroy(m_mosq);
}

void Connection::setUp() {
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_settings.user.constData(),
                                  m_settings.password.isEmpty() ? nullptr : m_settings.password.constData());
    if (m_will)
        mosquitto_will_set(m_mosq, m_will->topic.constData(), int(m_will->payload.size()), m_will->payload.constData(),
                           1, true);
    mosquitto_connect_callback_set(m_mosq, &Connection::onConnect);
    mosquitto_message_callback_set(m_mosq, &Connection::onMessage);
    mosquitto_publish_callback_set(m_mosq, &Connection::onPublish);
}

QString Connection::where() const {
    return QStringLiteral("%1:%2").arg(m_settings.broker.host).arg(m_settings.broker.port);
}

void Connection::open() {
    if (m_state == State::idle)
        attempt();
}

void Connection::close() {
    if (m_state == State::closed)
        return;
    const bool talking = m_state == State::connected;
    m_state = State::closed;
    m_retry.stop();
    if (talking)
        mosquitto_disconnect(m_mosq); // written at once: the socket is not in the library's hands now
    unwatchSocket();
}

void Connection::attempt() {
    if (m_state == State::closed)
        return;
    if (m_addresses.isEmpty()) {
        if (const QHostAddress literal(m_settings.broker.host); !literal.isNull()) {
            m_addresses = {literal};
        } else {
            // A name is resolved afresh once every address from the last time has failed.
            m_state = State::resolving;
            QHostInfo::lookupHost(m_settings.broker.host, this, &Connection::resolved);
            return;
        }
    }
    connectTo(m_addresses.takeFirst());
}

void Connection::resolved(const QHostInfo &info) {
    if (m_state != State::resolving)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        failed(QStringLiteral("resolve ") + info.errorString(),
               QStringLiteral("cannot find the broker's host %1 (%2); trying again")
                   .arg(m_settings.broker.host, info.errorString()));
        return;
    }
    m_addresses = info.addresses();
    connectTo(m_addresses.takeFirst());
}

void Connection::connectTo(const QHostAddress &address) {
    m_address = address;
    m_connack = -1;
    m_state = State::connecting;
    // A connection to an address needs no lookup, and the library's connect does not wait.
    errno = 0;
    const int rc = mosquitto_connect_async(m_mosq, address.toString().toUtf8().constData(), m_settings.broker.port,
                                           keepAliveSeconds);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString reason = reasonOf(rc, error);
        failed(
            QStringLiteral("unreachable ") + reason,
            QStringLiteral("cannot reach the broker at %1 (%2); trying again every few seconds").arg(where(), reason));
        return;
    }
    watchSocket();
    m_connectTimeout.start();
}

void Connection::watchSocket() {
    m_socket = mosquitto_socket(m_mosq);
    m_read = std::make_unique<QSocketNotifier>(qintptr(m_socket), QSocketNotifier::Read);
    connect(m_read.get(), &QSocketNotifier::activated, this, &Connection::readable);
    m_write = std::make_unique<QSocketNotifier>(qintptr(m_socket), QSocketNotifier::Write);
    connect(m_write.get(), &QSocketNotifier::activated, this, &Connection::writable);
    m_write->setEnabled(mosquitto_want_write(m_mosq));
    m_housekeeping.start();
}

void Connection::unwatchSocket() {
    // Called from the notifiers' own signals too: they stop watching now and go later.
    for (std::unique_ptr<QSocketNotifier> *notifier : {&m_read, &m_write})
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    m_socket = -1;
    m_housekeeping.stop();
    m_connectTimeout.stop();
}

void Connection::readable() {
    errno = 0;
    const int rc = mosquitto_loop_read(m_mosq, 1);
    settle(rc, errno);
}

void Connection::writable() {
    errno = 0;
    const int rc = mosquitto_loop_write(m_mosq, 1);
    settle(rc, errno);
}

void Connection::housekeeping() {
    errno = 0;
    const int rc = mosquitto_loop_misc(m_mosq);
    settle(rc, errno);
}

void Connection::settle(int rc, int error) {
    // On an error the library has closed the socket already.
    const bool lost = rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) != m_socket;
    const int connack = std::exchange(m_connack, -1);
    if (connack == 0 && m_state == State::connecting) {
        m_state = State::connected;
        m_connectTimeout.stop();
        m_retryMs = firstRetryMs;
        m_lastProblem.clear();
        m_addresses.clear();
        m_connectedAt = m_clock.elapsed();
        qCInfo(logMqtt).noquote() << QStringLiteral("mqtt: connected to the broker at %1 as %2")
                                          .arg(where(), QString::fromUtf8(m_clientId));
        emit connected();
    }
    for (const Incoming &incoming : std::exchange(m_inbox, {}))
        emit message(incoming.topic, incoming.payload, incoming.retained);
    for (const int id : std::exchange(m_delivered, {}))
        emit delivered(id);
    if (m_state == State::closed)
        return; // closed by a listener meanwhile
    if (!lost && connack <= 0) {
        if (m_write)
            m_write->setEnabled(mosquitto_want_write(m_mosq));
        return;
    }
    const bool wasConnected = m_state == State::connected;
    unwatchSocket();
    if (connack > 0) {
        // The broker closes the connection after a refusal; the socket goes with it here.
        mosquitto_reinitialise(m_mosq, m_clientId.constData(), true, this);
        setUp();
        if (refusesCredentials(connack))
            failed(QStringLiteral("credentials"),
                   QStringLiteral("the broker at %1 refused the user name or password (%2): check "
                                  "--mqtt-password-file; trying again every %3 s")
                       .arg(where(), connack == 4 ? QStringLiteral("bad user name or password")
                                                  : QStringLiteral("not authorised"))
                       .arg(longestRetryMs / 1000));
        else
            failed(QStringLiteral("refused %1").arg(connack),
                   QStringLiteral("the broker at %1 refused the connection (%2); trying again")
                       .arg(where(), QString::fromUtf8(mosquitto_connack_string(connack))));
    } else if (wasConnected && takenOver()) {
        if (!std::exchange(m_takeoverSaid, true))
            qCCritical(logMqtt).noquote()
                << QStringLiteral("mqtt: the broker at %1 closed this server's connection %2 times within a "
                                  "minute: another client most likely connects with the same client id %3 (a "
                                  "second tavo-server with the same --instance or --mqtt-base?); trying again "
                                  "once a minute instead of taking the connection back")
                       .arg(where())
                       .arg(m_losses.size())
                       .arg(QString::fromUtf8(m_clientId));
        m_state = State::waiting;
        m_retry.start(takenOverRetryMs);
    } else if (wasConnected) {
        failed(QStringLiteral("lost"),
               QStringLiteral("lost the broker at %1 (%2); connecting again").arg(where(), reasonOf(rc, error)));
    } else {
        const QString reason = reasonOf(rc, error);
        failed(
            QStringLiteral("unreachable ") + reason,
            QStringLiteral("cannot reach the broker at %1 (%2); trying again every few seconds").arg(where(), reason));
    }
}

bool Connection::takenOver() {
    const qint64 now = m_clock.elapsed();
    m_losses.append(now);
    while (now - m_losses.front() > takeoverWindowMs)
        m_losses.removeFirst();
    // Once the client id was found taken, a connection that is soon lost again is more of
    // the same: no new fight every minute.
    return m_losses.size() >= takeoversToGiveWay || (m_takeoverSaid && now - m_connectedAt < takeoverWindowMs);
}

void Connection::failed(const QString &problem, const QString &line) {
    m_state = State::waiting;
    if (problem != m_lastProblem) {
        m_lastProblem = problem;
        qCWarning(logMqtt).noquote() << QStringLiteral("mqtt: ") + line;
    }
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, longestRetryMs);
}

int Connection::publish(const QByteArray &topic, const QByteArray &payload, bool retain) {
    if (m_state != State::connected)
        return -1;
    int id = -1;
    const int rc =
        mosquitto_publish(m_mosq, &id, topic.constData(), int(payload.size()), payload.constData(), 1, retain);
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
    return rc == MOSQ_ERR_SUCCESS ? id : -1;
}

bool Connection::subscribe(const QByteArray &topic) {
    if (m_state != State::connected)
        return false;
    const int rc = mosquitto_subscribe(m_mosq, nullptr, topic.constData(), 1);
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
    return rc == MOSQ_ERR_SUCCESS;
}

// The callbacks run inside the library's calls: they only note what happened (nothing may
// unwind through the library's C frames), and settle() tells it once the call has returned.

void Connection::onConnect(mosquitto *, void *self, int code) { static_cast<Connection *>(self)->m_connack = code; }

void Connection::onMessage(mosquitto *, void *self, const mosquitto_message *message) {
    try {
        static_cast<Connection *>(self)->m_inbox.push_back(
            {QByteArray(message->topic),
             QByteArray(static_cast<const char *>(message->payload), qsizetype(message->payloadlen)), message->retain});
    } catch (...) {
    }
}

void Connection::onPublish(mosquitto *, void *self, int id) {
    try {
        static_cast<Connection *>(self)->m_delivered.push_back(id);
    } catch (...) {
    }
}

} // namespace mqtt
