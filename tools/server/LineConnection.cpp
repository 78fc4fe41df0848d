#include "LineConnection.h"

#include "Listener.h"

#include <QTcpSocket>

#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

LineConnection::LineConnection(QTcpSocket *socket, const LineLimits &limits, QObject *parent)
    : QObject(parent), m_socket(socket), m_limits(limits),
      m_peer(endpointName(socket->peerAddress(), socket->peerPort())), m_address(plainAddress(socket->peerAddress())),
      m_splitter(limits.longestLine) {
    socket->setParent(this);
    // Bytes beyond this stay with the kernel (and the client) until the lines before them
    // are answered.
    socket->setReadBufferSize(4096);
    m_spare = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    connect(socket, &QTcpSocket::readyRead, this, &LineConnection::readMore);
    connect(socket, &QTcpSocket::bytesWritten, this, &LineConnection::readMore);
    connect(socket, &QTcpSocket::disconnected, this, &LineConnection::peerGone);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        close(QStringLiteral("closed: no command for %1 s").arg(m_limits.idleMs / 1000.0));
    });
    m_drain.setSingleShot(true);
    connect(&m_drain, &QTimer::timeout, this, [this] {
        emit event(QtWarningMsg, QStringLiteral("%1: dropped with %2 bytes it did not take").arg(m_peer).arg(unsent()));
        if (m_spare >= 0) {
            // Reset rather than wait for the client to take what is left.
            const linger abortive{1, 0};
            ::setsockopt(m_spare, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        m_socket->abort();
        finish();
    });
}

LineConnection::~LineConnection() {
    if (m_spare >= 0)
        ::close(m_spare);
}

void LineConnection::start() {
    restartIdle();
    readMore();
}

void LineConnection::setIdleMs(int ms) {
    m_limits.idleMs = ms;
    if (m_idle.isActive())
        restartIdle();
}

void LineConnection::restartIdle() {
    if (m_limits.idleMs > 0)
        m_idle.start(m_limits.idleMs);
}

qsizetype LineConnection::unsent() const { return m_socket->bytesToWrite(); }

void LineConnection::send(const QByteArray &bytes) {
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
        // To the kernel now: Qt drops what it still holds when it sees the client's end of
        // sending, though the client may be waiting to read it.
        m_socket->flush();
        return;
    }
    // The client has stopped sending and Qt has let go of its descriptor, but the client may
    // still read: an answer of a few bytes fits the kernel's buffer at once, or is lost.
    if (m_spare >= 0 && m_peerDone)
        (void)::send(m_spare, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void LineConnection::lineDone() {
    m_busy = false;
    if (m_closing)
        return;
    if (!m_peerDone)
        restartIdle();
    // From the event loop: a line answered at once must not hand over the next one inside
    // this call, however many are waiting.
    QMetaObject::invokeMethod(this, &LineConnection::readMore, Qt::QueuedConnection);
}

void LineConnection::readMore() {
    while (!m_busy && !m_closing) {
        if (unsent() > m_limits.unsentLimit)
            return; // bytesWritten() calls again
        const std::optional<QByteArray> line = takeLine();
        if (!line)
            break;
        if (line->isEmpty())
            continue;
        m_busy = true;
        m_idle.stop();
        emit lineReceived(*line);
    }
    finishIfDone();
}

std::optional<QByteArray> LineConnection::takeLine() {
    for (;;) {
        QByteArray line;
        switch (m_splitter.next(&line)) {
        case LineSplitter::Next::line:
            return line;
        case LineSplitter::Next::tooLong:
            close(QStringLiteral("closed: a line longer than %1 bytes").arg(m_limits.longestLine));
            return std::nullopt;
        case LineSplitter::Next::needMore:
            break;
        }
        if (m_socket->bytesAvailable() <= 0)
            return std::nullopt;
        m_splitter.add(m_socket->read(m_splitter.room()));
    }
}

void LineConnection::peerGone() {
    m_peerDone = true;
    m_idle.stop();
    // What came before the end is still to be answered: readMore() takes it from the socket.
    readMore();
}

void LineConnection::finishIfDone() {
    if (!m_peerDone)
        return;
    if (!m_closing && (m_busy || m_splitter.holdsLine() || m_socket->bytesAvailable() > 0))
        return;
    finish();
}

void LineConnection::finish() {
    if (std::exchange(m_finished, true))
        return;
    deleteLater();
}

void LineConnection::close(const QString &why, QtMsgType level) {
    if (m_closing)
        return;
    if (!why.isEmpty())
        emit event(level, QStringLiteral("%1: %2").arg(m_peer, why));
    m_closing = true;
    m_idle.stop();
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        finish();
        return;
    }
    m_drain.start(m_limits.drainMs);
    m_socket->disconnectFromHost(); // after what is written has gone out; then peerGone()
}
