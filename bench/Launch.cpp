// Start-up and memory of a whole program, seen from outside it the same way for any
// program: the time from fork to the X server reporting its first top-level window
// mapped, then to the first drawing in that window, and its peak resident set once it
// has idled a while.

#include "Launch.h"

#include "BenchPty.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef TAVO_BENCH_HAVE_XCB
#include <xcb/xcb.h>
#endif
#ifdef TAVO_BENCH_HAVE_XCB_DAMAGE
#include <xcb/damage.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

long statusKilobytes(pid_t pid, const char *field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    return -1;
}

// CPU time the process has had so far, over all its live threads, in microseconds.
double cpuMicroseconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double nanoseconds = 0;
        if (schedstat >> nanoseconds)
            total += nanoseconds / 1000.0;
    }
    return total;
}

bool writeTavoConf(const std::string &dir, const QString &slavePath) {
    std::ofstream conf(dir + "/TAVO.conf", std::ios::trunc);
    conf << "[StartUP]\nComPort=1\nBaudRate=96\n\n[Ports]\nCOM1=" << slavePath.toStdString() << "\n";
    return static_cast<bool>(conf.flush());
}

// Ends the child, politely first; returns its peak resident set as the kernel
// accounted it (kilobytes), or -1.
long endChild(pid_t pid) {
    ::kill(pid, SIGTERM);
    rusage usage{};
    int status = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            if (::wait4(pid, &status, 0, &usage) < 0)
                return -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return usage.ru_maxrss;
}

#ifdef TAVO_BENCH_HAVE_XCB
xcb_atom_t atom(xcb_connection_t *connection, const char *name) {
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// The window's _NET_WM_PID, or -1.
long windowPid(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t pidAtom) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    long pid = -1;
    if (reply && xcb_get_property_value_length(reply) >= 4)
        pid = long(*static_cast<uint32_t *>(xcb_get_property_value(reply)));
    std::free(reply);
    return pid;
}

// The window's place on the root, or an empty rectangle.
xcb_rectangle_t windowPlace(xcb_connection_t *connection, xcb_window_t window) {
    xcb_get_geometry_reply_t *reply = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    xcb_rectangle_t place{0, 0, 0, 0};
    if (reply)
        place = {reply->x, reply->y, reply->width, reply->height};
    std::free(reply);
    return place;
}

[[maybe_unused]] bool overlaps(const xcb_rectangle_t &a, const xcb_rectangle_t &b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Damage on the root window reports every drawing on the screen as it happens. It is
// set up before the program starts, so its first frame cannot slip past unseen.
// Returns the event type of a damage report, or 0 when the server has no damage.
uint8_t watchDrawing(xcb_connection_t *connection, xcb_window_t root) {
#ifdef TAVO_BENCH_HAVE_XCB_DAMAGE
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!extension || !extension->present)
        return 0;
    std::free(xcb_damage_query_version_reply(connection, xcb_damage_query_version(connection, 1, 1), nullptr));
    xcb_damage_create(connection, xcb_generate_id(connection), root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    return uint8_t(extension->first_event + XCB_DAMAGE_NOTIFY);
#else
    (void)connection;
    (void)root;
    return 0;
#endif
}

std::string windowTitle(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t nameAtom, xcb_atom_t utf8) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, nameAtom, utf8, 0, 256), nullptr);
    std::string title;
    if (reply)
        title.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                     std::size_t(xcb_get_property_value_length(reply)));
    std::free(reply);
    return title;
}
#endif

} // namespace

pid_t startProgram(const std::vector<std::string> &command, int stdoutFd) {
    std::vector<char *> argv;
    for (const std::string &word : command)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return -1;
    }
    if (pid == 0) {
        if (stdoutFd >= 0)
            ::dup2(stdoutFd, STDOUT_FILENO); // dup2 clears close-on-exec on the copy
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    return pid;
}

int runLaunch(const LaunchOptions &options) {
#ifndef TAVO_BENCH_HAVE_XCB
    (void)options;
    (void)statusKilobytes;
    (void)cpuMicroseconds;
    (void)writeTavoConf;
    (void)endChild;
    std::fprintf(stderr, "tavo-bench: built without XCB; install libxcb1-dev and rebuild to measure start-up\n");
    return 2;
#else
    if (options.command.empty()) {
        std::fprintf(stderr, "tavo-bench launch: no program given\n");
        return 2;
    }
    BenchPty pty;
    if (!options.tavoConfDir.empty() && (!pty.isValid() || !writeTavoConf(options.tavoConfDir, pty.slavePath()))) {
        std::fprintf(stderr, "tavo-bench launch: cannot prepare %s/TAVO.conf\n", options.tavoConfDir.c_str());
        return 1;
    }

    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "tavo-bench launch: no X display\n");
        return 1;
    }
    const int xfd = xcb_get_file_descriptor(connection);
    ::fcntl(xfd, F_SETFD, FD_CLOEXEC);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    // Top-level windows are the root's children (there is no window manager on the
    // benchmark's X server), so their mapping is reported to the root's listeners.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    const xcb_atom_t nameAtom = atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8Atom = atom(connection, "UTF8_STRING");
    const uint8_t drawingEvent = watchDrawing(connection, root);
    xcb_flush(connection);

    const Clock::time_point started = Clock::now();
    const pid_t pid = startProgram(options.command);
    if (pid < 0)
        return 1;

    Clock::time_point mapped;
    Clock::time_point drawn;
    double cpuToWindow = 0;
    double cpuToDrawing = 0;
    std::string title;
    xcb_rectangle_t place{0, 0, 0, 0};
    bool found = false;
    // Without damage on the server there is no drawing to wait for.
    bool drawingSeen = drawingEvent == 0;
    while (!found || !drawingSeen) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const Clock::time_point now = Clock::now();
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY && !found) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (!map->override_redirect && windowPid(connection, map->window, pidAtom) == long(pid)) {
                    mapped = now;
                    cpuToWindow = cpuMicroseconds(pid);
                    title = windowTitle(connection, map->window, nameAtom, utf8Atom);
                    place = windowPlace(connection, map->window);
                    found = true;
                }
            }
#ifdef TAVO_BENCH_HAVE_XCB_DAMAGE
            else if (type == drawingEvent && drawingEvent != 0 && found && !drawingSeen) {
                const auto *damage = reinterpret_cast<xcb_damage_notify_event_t *>(event);
                if (overlaps(damage->area, place)) {
                    drawn = now;
                    cpuToDrawing = cpuMicroseconds(pid);
                    drawingSeen = true;
                }
            }
#endif
            std::free(event);
        }
        if (found && drawingSeen)
            break;
        if (found && Clock::now() - mapped > std::chrono::seconds(5))
            break; // mapped, but nothing drawn in it: the drawing is left out
        if (xcb_connection_has_error(connection)) {
            std::fprintf(stderr, "tavo-bench launch: lost the X display\n");
            endChild(pid);
            return 1;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "tavo-bench launch: %s ended before showing a window\n", options.command.front().c_str());
            return 1;
        }
        if (Clock::now() - started > std::chrono::milliseconds(options.timeoutMs)) {
            std::fprintf(stderr, "tavo-bench launch: %s showed no window\n", options.command.front().c_str());
            endChild(pid);
            return 1;
        }
        pollfd readable{xfd, POLLIN, 0};
        ::poll(&readable, 1, 10);
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(options.idleMs));
    const long hwm = statusKilobytes(pid, "VmHWM");
    const long rss = statusKilobytes(pid, "VmRSS");
    const long maxrss = endChild(pid);
    xcb_disconnect(connection);

    std::printf("startup_us %.0f\n", std::chrono::duration<double, std::micro>(mapped - started).count());
    std::printf("cpu_to_window_us %.0f\n", cpuToWindow);
    if (drawingEvent != 0 && drawingSeen) {
        std::printf("drawn_us %.0f\n", std::chrono::duration<double, std::micro>(drawn - started).count());
        std::printf("cpu_to_drawn_us %.0f\n", cpuToDrawing);
    }
    std::printf("vmhwm_kb %ld\n", hwm);
    std::printf("vmrss_kb %ld\n", rss);
    std::printf("maxrss_kb %ld\n", maxrss);
    std::printf("window_title %s\n", title.c_str());
    return 0;
#endif
}
