#include "simulator.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tavo::sim {

namespace {

constexpr qint64 kNsPerMs = 1000 * 1000;

// 8N1 puts ten bit times on the wire per character (start, 8 data, stop).
qint64 characterTimeNs(int baud) { return 10LL * 1000 * 1000 * 1000 / baud; }

// Renders bytes as one printable line: the log and -v must stay line oriented
// even when a client sends control characters.
QByteArray printable(const QByteArray &bytes) {
    QByteArray out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (u >= 0x20 && u < 0x7f)
            out += c;
        else
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    }
    return out;
}

QString errnoText(const char *what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

Simulator::Simulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_model(options.model) {
    m_clock.start();
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &Simulator::sendDueBytes);
    if (m_options.announcePower) {
        m_model.onPowerChange([this](PowerState state) { announcePowerState(state); });
        m_powerTimer.setSingleShot(true);
        m_powerTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_powerTimer, &QTimer::timeout, this, &Simulator::followPowerClock);
    }
}

Simulator::~Simulator() { closeDevice(); }

bool Simulator::start(QString *error) {
    if (!m_options.logPath.isEmpty()) {
        m_log.setFileName(m_options.logPath);
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *error = QStringLiteral("cannot open log %1: %2").arg(m_options.logPath, m_log.errorString());
            return false;
        }
    }
    if (!m_options.wireLogPath.isEmpty()) {
        m_wireLog.setFileName(m_options.wireLogPath);
        if (!m_wireLog.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *error = QStringLiteral("cannot open wire log %1: %2").arg(m_options.wireLogPath, m_wireLog.errorString());
            return false;
        }
    }
    return m_options.transport == SimulatorOptions::Transport::Pty ? openPty(error) : openTcp(error);
}

bool Simulator::openPty(QString *error) {
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) < 0) {
        *error = errnoText("openpty");
        return false;
    }
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // The slave starts in cooked mode with echo: CR would become LF and every
    // command would bounce back to the client. Termios belongs to the terminal,
    // not the descriptor, so raw mode set here is what the client finds on open.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) < 0) {
        *error = errnoText("tcgetattr");
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = m_options.baud == 19200 ? B19200 : B9600;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(m_slave, TCSANOW, &tio) < 0) {
        *error = errnoText("tcsetattr");
        return false;
    }

    // The slave descriptor stays open on purpose: once the last slave opener
    // goes away the master reports EIO/POLLHUP for ever, which would spin the
    // read notifier between two client sessions.
    char name[256] = {};
    if (::ttyname_r(m_slave, name, sizeof name) != 0) {
        *error = QStringLiteral("ttyname_r failed");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    if (!m_options.linkPath.isEmpty() && !createLink(m_slavePath, error))
        return false;

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &Simulator::readPty);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &Simulator::flushPtyOutput);

    m_endpoint = QStringLiteral("PTY ") + m_slavePath;
    return true;
}

bool Simulator::createLink(const QString &target, QString *error) {
    const QString path = m_options.linkPath;
    const QByteArray encoded = QFile::encodeName(path);
    const QFileInfo info(path);
    if (info.isSymLink()) {
        if (::unlink(encoded.constData()) < 0) {
            *error = errnoText("unlink link");
            return false;
        }
    } else if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a symlink; not replacing it").arg(path);
        return false;
    }
    if (::symlink(QFile::encodeName(target).constData(), encoded.constData()) < 0) {
        *error = errnoText("symlink");
        return false;
    }
    m_linkPath = path;
    return true;
}

void Simulator::removeLink() {
    if (m_linkPath.isEmpty())
        return;
    // Only remove the link if it is still ours; another simulator may have taken the name over.
    if (QFileInfo(m_linkPath).symLinkTarget() == QFileInfo(m_slavePath).absoluteFilePath())
        ::unlink(QFile::encodeName(m_linkPath).constData());
    m_linkPath.clear();
}

bool Simulator::openTcp(QString *error) {
    m_server = new QTcpServer(this);
    if (!m_server->listen(QHostAddress::LocalHost, m_options.tcpPort)) {
        *error =
            QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(m_options.tcpPort).arg(m_server->errorString());
        return false;
    }
    m_server->setMaxPendingConnections(1);
    connect(m_server, &QTcpServer::newConnection, this, &Simulator::acceptClient);
    m_endpoint = QStringLiteral("TCP 127.0.0.1:%1").arg(m_server->serverPort());
    return true;
}

void Simulator::readPty() {
    char buffer[4096];
    while (m_master >= 0) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            handleBytes(QByteArrayView(buffer, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO cannot normally happen while we hold the slave, but if it does the
        // notifier would fire continuously; stop listening instead of spinning.
        std::fprintf(stderr, "tavo-projector-sim: pty read: %s\n", n < 0 ? std::strerror(errno) : "end of file");
        m_readNotifier->setEnabled(false);
        return;
    }
}

void Simulator::flushPtyOutput() {
    while (m_master >= 0 && !m_ptyOutput.isEmpty()) {
        const ssize_t n = ::write(m_master, m_ptyOutput.constData(), size_t(m_ptyOutput.size()));
        if (n > 0) {
            m_ptyOutput.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client is not reading and the pty buffer is full: wait for room.
            m_writeNotifier->setEnabled(true);
            return;
        }
        std::fprintf(stderr, "tavo-projector-sim: pty write: %s\n", std::strerror(errno));
        m_ptyOutput.clear();
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

// A serial line has exactly one other end. Further clients are not refused but
// wait their turn: the server keeps at most one accepted connection aside (the
// rest stay in the kernel backlog), and it is taken up once the current client
// leaves. Refusing instead would turn away a client that reconnects before we
// have noticed its previous connection close.
void Simulator::acceptClient() {
    if (m_client || !m_server)
        return;
    QTcpSocket *socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    m_client = socket;
    connect(socket, &QTcpSocket::readyRead, this, &Simulator::readClient);
    connect(socket, &QTcpSocket::disconnected, this, &Simulator::dropClient);
    if (m_options.verbose)
        std::fprintf(stderr, "tavo-projector-sim: client connected\n");
    // Whatever it sent while waiting is already buffered, and it may even have
    // gone away again: no signal will tell us about either any more.
    readClient();
    if (m_client && m_client->state() != QAbstractSocket::ConnectedState)
        dropClient();
}

void Simulator::readClient() {
    while (m_client && m_client->bytesAvailable() > 0)
        handleBytes(m_client->readAll());
}

void Simulator::dropClient() {
    if (!m_client)
        return;
    if (m_options.verbose)
        std::fprintf(stderr, "tavo-projector-sim: client disconnected\n");
    m_client->deleteLater();
    m_client = nullptr;
    // A new connection is a freshly plugged cable: no half line, no stale replies.
    m_model.resetInput();
    m_pending.clear();
    m_sendTimer.stop();
    acceptClient();
}

void Simulator::handleBytes(QByteArrayView bytes) {
    if (m_wireLog.isOpen() && !m_unplugged) {
        m_wireLog.write(bytes.data(), bytes.size());
        m_wireLog.flush();
    }
    m_model.advanceTo(m_clock.elapsed());
    const QList<Exchange> exchanges = m_model.feed(bytes);
    for (const Exchange &exchange : exchanges) {
        if (m_unplugged)
            return;
        logCommand(exchange.command);
        if (m_options.unplugAfter > 0 && ++m_commandCount >= m_options.unplugAfter) {
            // The cable goes the moment this command has left the client, so it
            // is never answered: the client sees its write succeed, then a dead line.
            unplug();
            return;
        }
        QByteArray reply = exchange.reply;
        for (const auto &[command, answer] : m_options.answers)
            if (command == exchange.command && !m_options.model.silent)
                reply = answer + '\r';
        if (!reply.isEmpty())
            scheduleReply(reply);
    }
    followPowerClock();
}

void Simulator::scheduleReply(const QByteArray &reply) {
    trace(">>", reply);
    const qint64 now = m_clock.nsecsElapsed();
    const int delayMs =
        !m_answeredOnce && m_options.firstReplyDelayMs >= 0 ? m_options.firstReplyDelayMs : m_options.replyDelayMs;
    m_answeredOnce = true;
    qint64 due = now + qint64(delayMs) * kNsPerMs;
    // Replies leave in the order their commands came, however long each one waits.
    if (!m_pending.empty())
        due = std::max(due, m_pending.back().dueNs);
    if (m_options.pace) {
        const qint64 charNs = characterTimeNs(m_options.baud);
        due = std::max(due, m_lineFreeNs);
        for (char c : reply) {
            m_pending.push_back({due, c});
            due += charNs;
        }
        m_lineFreeNs = due;
    } else {
        for (char c : reply)
            m_pending.push_back({due, c});
    }
    sendDueBytes();
}

void Simulator::sendDueBytes() {
    const qint64 now = m_clock.nsecsElapsed();
    QByteArray burst;
    while (!m_pending.empty() && m_pending.front().dueNs <= now) {
        burst += m_pending.front().byte;
        m_pending.pop_front();
    }
    if (!burst.isEmpty())
        writeToDevice(burst);
    if (!m_pending.empty()) {
        const qint64 waitNs = m_pending.front().dueNs - now;
        m_sendTimer.start(int((waitNs + kNsPerMs - 1) / kNsPerMs));
    }
}

void Simulator::writeToDevice(const QByteArray &bytes) {
    if (m_master >= 0) {
        m_ptyOutput += bytes;
        flushPtyOutput();
    } else if (m_client) {
        m_client->write(bytes);
    }
}

void Simulator::unplug() {
    m_unplugged = true;
    closeDevice();
    // "UNPLUGGED", or "UNPLUGGED 127.0.0.1:5003" among several projectors.
    std::fprintf(stdout, "UNPLUGGED%s\n", m_options.tagged ? (' ' + tag().trimmed()).constData() : "");
    std::fflush(stdout);
    if (m_options.verbose)
        std::fprintf(stderr, "tavo-projector-sim: device unplugged after %d commands\n", m_commandCount);
}

// "POWER on", or "POWER 127.0.0.1:5003 on" among several projectors: in the words tavo-send
// gives the status reply's value.
void Simulator::announcePowerState(PowerState state) {
    const char *word = "standby";
    switch (state) {
    case PowerState::Standby:
        word = "standby";
        break;
    case PowerState::CountDown:
        word = "countdown";
        break;
    case PowerState::On:
        word = "on";
        break;
    case PowerState::Cooling:
        word = "cooling";
        break;
    }
    std::fprintf(stdout, "POWER %s%s\n", tag().constData(), word);
    std::fflush(stdout);
}

// The model moves on only when asked. To announce the end of a warm-up or a cool-down when
// it happens, rather than at the next command, it is asked then too.
void Simulator::followPowerClock() {
    if (!m_options.announcePower)
        return;
    m_model.advanceTo(m_clock.elapsed());
    if (const std::optional<qint64> at = m_model.nextPowerChangeAt())
        m_powerTimer.start(int(std::clamp<qint64>(*at - m_clock.elapsed(), 0, std::numeric_limits<int>::max())));
    else
        m_powerTimer.stop();
}

void Simulator::closeDevice() {
    m_pending.clear();
    m_sendTimer.stop();
    // Notifiers go before their descriptor is closed; deleteLater because this
    // may run inside the read notifier's own activation.
    for (QSocketNotifier **notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    m_ptyOutput.clear();
    // Closing the master hangs the terminal up: the client's reads then fail
    // with EIO, as with a USB adapter pulled from the socket. Its device node
    // and our symlink disappear too.
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    removeLink();

    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
        m_client->deleteLater();
        m_client = nullptr;
    }
    if (m_server)
        m_server->close();
}

void Simulator::logCommand(const QByteArray &command) {
    trace("<<", command);
    if (m_log.isOpen()) {
        QByteArray time;
        if (m_options.logTimes) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            time = QByteArray::number(double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6, 'f', 3) + ' ';
        }
        m_log.write(time + tag() + printable(command) + '\n');
        m_log.flush();
    }
}

void Simulator::trace(const char *direction, const QByteArray &bytes) const {
    if (m_options.verbose)
        std::fprintf(stderr, "%s%s %s\n", tag().constData(), direction, printable(bytes).constData());
}

// "127.0.0.1:5003 " or "/dev/pts/7 " when several projectors share the process, else nothing.
QByteArray Simulator::tag() const {
    return m_options.tagged ? m_endpoint.section(QLatin1Char(' '), 1).toLocal8Bit() + ' ' : QByteArray();
}

} // namespace tavo::sim
