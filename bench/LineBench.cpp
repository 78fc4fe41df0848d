// The panel on a real serial line: a pseudo-terminal opened through the real serial
// adapter, driven by real mouse events on the shown window.

#include "LineBench.h"

#include "BenchPty.h"
#include "Stats.h"

#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"
#include "link/Module1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

void report(const char *key, double value) { std::printf("%s %.1f\n", key, value); }
void report(const char *key, qint64 value) { std::printf("%s %lld\n", key, static_cast<long long>(value)); }

// Lets the window finish whatever the last step left for it (repaints, deferred
// deletes) so that the next timed step starts from a quiet event loop.
void settle() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Runs the real event loop (no polling with sleeps in between) for a while.
void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts paint events of one widget, to tell when a changed label has been drawn.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Reads the master side on its own thread and notes when each command ending in a
// carriage return arrived, as the projector would see them.
class ArrivalRecorder {
public:
    struct Arrival {
        Clock::time_point at;
        QByteArray command;
    };

    explicit ArrivalRecorder(BenchPty &pty) : m_pty(pty) {
        m_thread = std::thread([this] { run(); });
    }
    ~ArrivalRecorder() { stop(); }

    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<Arrival> arrivals() {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }

private:
    void run() {
        QByteArray partial;
        while (!m_stop) {
            pollfd readable{m_pty.masterFd(), POLLIN, 0};
            if (::poll(&readable, 1, 20) <= 0)
                continue;
            QByteArray bytes;
            if (m_pty.readSome(bytes) <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            for (char byte : bytes) {
                partial.append(byte);
                if (byte == '\r') {
                    std::lock_guard lock(m_mutex);
                    m_arrivals.push_back({now, partial});
                    partial.clear();
                }
            }
        }
    }

    BenchPty &m_pty;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
};

struct Rig {
    BenchPty pty;
    MemorySettingsStore settings;
    QtSerialComponent port{settings};
    std::unique_ptr<Form1> form;

    bool start() {
        if (!pty.isValid()) {
            std::fprintf(stderr, "tavo-bench: no pseudo-terminal could be opened\n");
            return false;
        }
        Module1::reset();
        settings.save(store::application, store::ports, QStringLiteral("COM1"), pty.slavePath());
        settings.save(store::application, store::startUp, store::comPortKey, QStringLiteral("1"));
        settings.save(store::application, store::startUp, store::baudRateKey, QStringLiteral("96"));
        // Informative: the share of start-up that is the panel itself. The first
        // window built pays for the font database as well; later ones do not.
        std::vector<double> builds;
        for (int i = 0; i < 11; ++i) {
            const Clock::time_point building = Clock::now();
            Form1 panel(port, settings);
            builds.push_back(microsecondsBetween(building, Clock::now()));
        }
        report("form_first_build_us", builds.front());
        builds.erase(builds.begin());
        report("form_build_median_us", summarise(builds).median);

        form = std::make_unique<Form1>(port, settings);
        form->endProgram = [] {};
        form->Form_Load();
        const Clock::time_point loaded = Clock::now();
        if (!port.portOpen()) {
            std::fprintf(stderr, "tavo-bench: the port on %s did not open\n", qPrintable(pty.slavePath()));
            return false;
        }
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowExposed(form.get())) {
            std::fprintf(stderr, "tavo-bench: the window was never exposed\n");
            return false;
        }
        report("form_show_us", microsecondsBetween(loaded, Clock::now()));
        // The transcript lines and the query buttons are below the compact height; the
        // operator opens the full window with Ctrl+H to see them.
        QTest::keyClick(form.get(), Qt::Key_H, Qt::ControlModifier);
        settle();
        if (form->Height() != Form1::fullHeight || !form->Label12->isVisible() ||
            form->Label12->visibleRegion().isEmpty()) {
            std::fprintf(stderr, "tavo-bench: the transcript did not come into view\n");
            return false;
        }
        pty.drain();
        return true;
    }

    template <typename Button = QPushButton> Button *button(const char *name) {
        auto *found = form->findChild<Button *>(QLatin1String(name));
        if (!found)
            std::fprintf(stderr, "tavo-bench: the panel has no button %s\n", name);
        return found;
    }
};

// 1. A click on "Status" until its fourth byte can be read on the projector's side.
bool clickToWire(Rig &rig, int count) {
    QPushButton *status = rig.button("Command44");
    if (!status)
        return false;
    const QByteArray expected("CR0\r");
    std::vector<double> samples;
    std::vector<double> handler; // the click itself, until QTest hands control back
    samples.reserve(static_cast<std::size_t>(count));
    qint64 neededEventLoop = 0;
    const int warmUp = 50;
    for (int i = 0; i < warmUp + count; ++i) {
        rig.pty.drain();
        settle();
        QByteArray received;
        const Clock::time_point clicked = Clock::now();
        QTest::mouseClick(status, Qt::LeftButton);
        const Clock::time_point returned = Clock::now();
        // Pure reads first: the bytes normally left during the click itself and are
        // only crossing the pty. Should the program have left them for its event
        // loop, the loop gets its turns as well, and the time they take counts.
        Clock::time_point lastByte;
        bool loopTurns = false;
        for (;;) {
            rig.pty.readSome(received);
            if (received.size() >= expected.size()) {
                lastByte = Clock::now();
                break;
            }
            if (microsecondsBetween(returned, Clock::now()) > 2000) {
                loopTurns = true;
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            }
            if (microsecondsBetween(clicked, Clock::now()) > 3e6) {
                std::fprintf(stderr, "tavo-bench: a click sent \"%s\" only\n", received.constData());
                return false;
            }
        }
        if (received != expected) {
            std::fprintf(stderr, "tavo-bench: a click sent %d unexpected bytes\n", int(received.size()));
            return false;
        }
        if (i >= warmUp) {
            samples.push_back(microsecondsBetween(clicked, lastByte));
            handler.push_back(microsecondsBetween(clicked, returned));
            neededEventLoop += loopTurns ? 1 : 0;
        }
    }
    const Summary s = summarise(samples);
    report("click_to_wire_n", qint64(samples.size()));
    report("click_to_wire_median_us", s.median);
    report("click_to_wire_p99_us", s.p99);
    report("click_to_wire_max_us", s.max);
    report("click_to_wire_needed_event_loop", neededEventLoop);
    const Summary h = summarise(handler);
    report("click_handler_median_us", h.median);
    report("click_handler_p99_us", h.p99);
    return true;
}

// 2. The projector's reply to a status query until the receive line shows it, and
// until that line has been repainted.
bool receiveToScreen(Rig &rig, int count) {
    const QString shown = QStringLiteral(" 8 0  [CR] ");
    PaintCounter paints(rig.form->Label12);
    std::vector<double> toText;
    std::vector<double> toPaint;
    const int warmUp = 50;
    for (int i = 0; i < warmUp + count; ++i) {
        // The query goes out first, as after a click on "Status"; that clears the line.
        rig.form->sendPanelCommand(u"CR0");
        rig.pty.drain();
        settle();
        const int paintsBefore = paints.count;
        const Clock::time_point written = Clock::now();
        if (!rig.pty.writeAll("80\r"))
            return false;
        Clock::time_point textShown;
        bool haveText = false;
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            const Clock::time_point now = Clock::now();
            if (!haveText && rig.form->Label12->text() == shown) {
                textShown = now;
                haveText = true;
            }
            if (haveText && paints.count > paintsBefore) {
                if (i >= warmUp) {
                    toText.push_back(microsecondsBetween(written, textShown));
                    toPaint.push_back(microsecondsBetween(written, now));
                }
                break;
            }
            if (microsecondsBetween(written, now) > 3e6) {
                std::fprintf(stderr, "tavo-bench: the reply never showed; the line reads \"%s\"\n",
                             qPrintable(rig.form->Label12->text()));
                return false;
            }
        }
    }
    const Summary text = summarise(toText);
    const Summary paint = summarise(toPaint);
    report("receive_to_text_n", qint64(toText.size()));
    report("receive_to_text_median_us", text.median);
    report("receive_to_text_p99_us", text.p99);
    report("receive_to_text_max_us", text.max);
    report("receive_to_paint_median_us", paint.median);
    report("receive_to_paint_p99_us", paint.p99);
    return true;
}

// 3. A real hold on "Volume up": what reaches the wire, and how evenly.
bool holdCadence(Rig &rig, int shortHoldMs, int longHoldMs) {
    auto *volumeUp = rig.button<QWidget>("Command1");
    if (!volumeUp)
        return false;
    const QByteArray command("C09\r");
    // The program's side of the same cadence: the repeat timer's ticks, noted just
    // after the panel's own handler has sent (it was connected first).
    std::vector<Clock::time_point> ticks;
    QObject::connect(rig.form->Timer1, &QTimer::timeout, rig.form.get(), [&ticks] { ticks.push_back(Clock::now()); });
    const auto hold = [&](int ms) {
        rig.pty.drain();
        settle();
        ticks.clear();
        ArrivalRecorder recorder(rig.pty);
        QTest::mousePress(volumeUp, Qt::LeftButton);
        runEventLoopFor(ms);
        QTest::mouseRelease(volumeUp, Qt::LeftButton);
        runEventLoopFor(200); // anything still on its way; the timer has stopped
        recorder.stop();
        std::vector<ArrivalRecorder::Arrival> arrivals = recorder.arrivals();
        std::erase_if(arrivals, [&](const ArrivalRecorder::Arrival &a) { return a.command != command; });
        return arrivals;
    };

    const auto shortHold = hold(shortHoldMs);
    report("hold_1s_sends", qint64(shortHold.size()));

    const auto longHold = hold(longHoldMs);
    std::vector<double> intervals;
    for (std::size_t i = 1; i < longHold.size(); ++i)
        intervals.push_back(microsecondsBetween(longHold[i - 1].at, longHold[i].at) / 1000.0);
    if (intervals.empty()) {
        std::fprintf(stderr, "tavo-bench: the long hold sent %d commands\n", int(longHold.size()));
        return false;
    }
    double worst = 0;
    for (double interval : intervals)
        worst = std::max(worst, std::abs(interval - 100.0));
    const Summary s = summarise(intervals);
    report("hold_10s_sends", qint64(longHold.size()));
    report("hold_interval_median_ms", s.median);
    report("hold_interval_min_ms", s.min);
    report("hold_interval_max_ms", s.max);
    report("hold_interval_worst_deviation_ms", worst);
    double worstTick = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        worstTick = std::max(worstTick, std::abs(microsecondsBetween(ticks[i - 1], ticks[i]) / 1000.0 - 100.0));
    report("hold_timer_ticks", qint64(ticks.size()));
    report("hold_timer_worst_deviation_ms", worstTick);
    report("hold_interval_mean_ms",
           microsecondsBetween(longHold.front().at, longHold.back().at) / 1000.0 / double(intervals.size()));
    return true;
}

} // namespace

int runLineBench(int argc, char **argv, const LineBenchOptions &options) {
    // Headless unless a display was chosen on purpose.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Rig rig;
    if (!rig.start())
        return 1;
    std::fflush(stdout);
    if (!clickToWire(rig, options.clicks))
        return 1;
    std::fflush(stdout);
    if (!receiveToScreen(rig, options.replies))
        return 1;
    std::fflush(stdout);
    if (!holdCadence(rig, options.shortHoldMs, options.longHoldMs))
        return 1;
    std::fflush(stdout);
    return 0;
}
