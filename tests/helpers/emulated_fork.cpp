// Preloaded into the test programs of a cross build while they run under qemu-user. Qt starts
// a child with clone(CLONE_PIDFD) once waitid(P_PIDFD) shows the kernel has it; qemu-user
// passes that waitid on to the kernel but refuses the clone, so QProcess could start nothing.
// Answering the probe as a kernel without pidfds makes Qt fork the classic way.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/syscall.h>

namespace {
constexpr long pidfdKind = 3; // P_PIDFD
}

extern "C" long syscall(long number, ...) {
    va_list list;
    va_start(list, number);
    long a[6];
    for (long &argument : a)
        argument = va_arg(list, long);
    va_end(list);
    if (number == SYS_waitid && a[0] == pidfdKind) {
        errno = ENOSYS;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const auto next = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// The programs a test starts (the host's broker, or arm64 ones through the emulator) go
// without it.
__attribute__((constructor)) static void keepToThisProgram() { unsetenv("LD_PRELOAD"); }
