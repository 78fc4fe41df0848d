#pragma once

// Behaviour of the QT735 projector's RS-232C control port, without any I/O.
//
// Framing: every command is ASCII text ended by one CR (0x0D). Input may come
// in any chunking; a partial line is kept until its CR. LF (0x0A) is dropped
// wherever it appears, and an empty line produces nothing at all. A line longer
// than kMaxCommandLength is discarded up to its CR and answered with "?\r".
//
// Reply bytes (<ACK> is the single byte 0x06, \r is 0x0D):
//
//   C00                       <ACK>   standby -> count down, on after `warmup` ms
//   C01, C02                  <ACK>   on / count down -> cooling, standby after `cooldown` ms
//   C05 C50 C51 C54           <ACK>   input 1
//   C06 / C04 / C07 / C34     <ACK>   input 2 / 3 / 4 / 5
//   other C + 2 hex (0-9A-F)  <ACK>   accepted, no effect
//   CR0                       "80\r" standby, "40\r" count down, "00\r" on, "20\r" cooling
//   CR1                       "1\r" .. "5\r"   last input selected (default "1\r")
//   CR3                       five-digit lamp hours, e.g. "01234\r" (lit time adds whole hours)
//   CR4                       "11\r" normal, "10\r" ceiling (top/bottom), "01\r" rear (left/right), "00\r" both
//   CR6                       "032.5 041.0 038.0\r"  three 5-character fields, values follow the power state
//   CR7, CR LAMPMODE          "000 NORMAL\r" | "000 HIGH\r" | "000 ECO\r"
//   CR LAMPSTS                "000 1I\r" lamp lit (count down / on), "000 1O\r" otherwise
//   CR2, CR5, CR8, CR9        <ACK>
//   CR <other keyword>        "000\r"   a read with an empty value, so a reader waiting for a CR line is not stuck
//   CF CEIL ON|OFF            <ACK>   ceiling mounting (top/bottom reversal)
//   CF REAR ON|OFF            <ACK>   rear projection (left/right reversal)
//   CF LAMPMODE NORMAL|AUTO|ECO1|ECO2  <ACK>  -> NORMAL / HIGH / ECO / ECO
//   CF INPUT 1..5             <ACK>   same as the C-code input selection
//   CF <keyword> <arg>...     <ACK>   any other setting, accepted, no effect
//   anything else             "?\r"
//
// Keywords are [A-Z0-9-]+, arguments [A-Z0-9+.-]+, separated by exactly one
// blank. The device is upper-case only: "cr0" or "CF CEIL on" are errors. In
// silent mode the state still changes but nothing is ever answered.
//
// The model has no clock of its own: the owner moves it forward with
// advanceTo()/advanceBy(), so the timed power transitions are deterministic.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <array>
#include <functional>
#include <optional>

namespace tavo::sim {

enum class PowerState { Standby, CountDown, On, Cooling };

struct ProjectorConfig {
    qint64 warmupMs = 3000;
    qint64 cooldownMs = 3000;
    int lampHours = 1234;
    bool silent = false;
};

// One complete command line (without its CR) and the bytes sent back for it.
struct Exchange {
    QByteArray command;
    QByteArray reply;
};

class ProjectorModel {
public:
    static constexpr qsizetype kMaxCommandLength = 256;
    static constexpr char kAck = '\x06';

    explicit ProjectorModel(const ProjectorConfig &config = {});

    // Moves the model's clock forward; time never runs backwards.
    void advanceTo(qint64 nowMs);
    void advanceBy(qint64 ms);
    qint64 now() const { return m_now; }

    // Consumes raw bytes from the line; returns one Exchange per completed command.
    QList<Exchange> feed(QByteArrayView bytes);

    // Runs one command (no CR) at the current time; the reply is empty in silent mode.
    QByteArray execute(QByteArrayView command);

    // Forgets a half-received line, as when the cable is re-plugged.
    void resetInput();

    void setSilent(bool silent) { m_config.silent = silent; }
    PowerState powerState() const { return m_state; }

    // When the warm-up or the cool-down under way runs out, on the model's clock; nothing
    // while the power state waits for a command.
    std::optional<qint64> nextPowerChangeAt() const;

    // Told of every change of the power state, in order, as the model makes it: on a
    // command, or when the clock is moved past the end of a warm-up or cool-down.
    void onPowerChange(std::function<void(PowerState)> observer) { m_powerObserver = std::move(observer); }

private:
    enum class LampMode { Normal, High, Eco };
    using Temperatures = std::array<int, 3>; // tenths of a degree

    QByteArray respond(QByteArrayView command);
    QByteArray readRegister(char digit) const;
    QByteArray readKeyword(const QByteArray &keyword) const;
    void applyCode(int code);
    void applySetting(const QList<QByteArray> &words);
    void enterState(PowerState state);
    void settle();
    void accountLamp(qint64 ms);
    bool lampLit() const;
    Temperatures temperatures() const;
    QByteArray lampModeReply() const;

    ProjectorConfig m_config;
    qint64 m_now = 0;
    PowerState m_state = PowerState::Standby;
    qint64 m_stateSince = 0;
    qint64 m_deadline = 0;
    Temperatures m_tempFrom{};
    qint64 m_litMs = 0;
    int m_input = 1;
    bool m_ceiling = false;
    bool m_rear = false;
    LampMode m_lampMode = LampMode::Normal;

    QByteArray m_line;
    bool m_overflow = false;
    std::function<void(PowerState)> m_powerObserver;
};

} // namespace tavo::sim
