#include "BenchPty.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

qsizetype BenchPty::readSome(QByteArray &into) {
    char buffer[4096];
    const ssize_t n = ::read(masterFd(), buffer, sizeof buffer);
    if (n <= 0)
        return 0;
    into.append(buffer, static_cast<qsizetype>(n));
    return static_cast<qsizetype>(n);
}

void BenchPty::drain() {
    QByteArray discard;
    // A short grace period catches bytes the kernel is still moving across the pair.
    pollfd waiting{masterFd(), POLLIN, 0};
    while (::poll(&waiting, 1, 2) > 0 && readSome(discard) > 0)
        discard.clear();
}

bool BenchPty::writeAll(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd(), bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd writable{masterFd(), POLLOUT, 0};
            ::poll(&writable, 1, 10);
            continue;
        }
        return false;
    }
    return true;
}
