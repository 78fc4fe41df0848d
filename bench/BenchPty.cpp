#include "BenchPty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

BenchPty::BenchPty() {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // Raw on the slave until the program sets its own modes: nothing the "projector"
    // writes is echoed back or translated.
    termios modes{};
    tcgetattr(m_slave, &modes);
    cfmakeraw(&modes);
    tcsetattr(m_slave, TCSANOW, &modes);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

BenchPty::~BenchPty() {
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

qsizetype BenchPty::readSome(QByteArray &into) {
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return 0;
    into.append(buffer, static_cast<qsizetype>(n));
    return static_cast<qsizetype>(n);
}

void BenchPty::drain() {
    QByteArray discard;
    // A short grace period catches bytes the kernel is still moving across the pair.
    pollfd waiting{m_master, POLLIN, 0};
    while (::poll(&waiting, 1, 2) > 0 && readSome(discard) > 0)
        discard.clear();
}

bool BenchPty::writeAll(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd writable{m_master, POLLOUT, 0};
            ::poll(&writable, 1, 10);
            continue;
        }
        return false;
    }
    return true;
}
