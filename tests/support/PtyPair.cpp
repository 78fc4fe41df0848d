#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // Raw on the slave until the program sets its own modes: no echo of what the
    // "projector" writes back into its own input.
    termios modes{};
    tcgetattr(m_slave, &modes);
    cfmakeraw(&modes);
    tcsetattr(m_slave, TCSANOW, &modes);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // Programs started meanwhile (the simulator, a benchmarked peer) must not hold the pair.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

QByteArray PtyPair::readFromProgram(int atLeast, int timeoutMs) {
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (m_master >= 0) {
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, static_cast<qsizetype>(n));
            if (received.size() >= atLeast)
                break;
            continue;
        }
        if (deadline.hasExpired())
            break;
        QTest::qWait(2); // lets the program's event loop write
    }
    return received;
}

void PtyPair::writeToProgram(const QByteArray &bytes) {
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (errno == EAGAIN)
            QTest::qWait(1);
        else
            break;
    }
}

void PtyPair::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
