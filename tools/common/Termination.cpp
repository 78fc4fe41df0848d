#include "Termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace cli {

namespace {

int g_signalPair[2] = {-1, -1};

// Only async-signal-safe work in the handler: the byte wakes the event loop, which quits.
void onTerminationSignal(int signal) {
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPair[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool quitOnTerminationSignals(QCoreApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPair) < 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPair[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        while (::read(g_signalPair[1], &byte, 1) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (::sigaction(signal, &action, nullptr) < 0)
            return false;
    return true;
}

} // namespace cli
