#include "projector_model.h"

#include <algorithm>
#include <utility>

namespace tavo::sim {

namespace {

// Resting and running temperatures (tenths of a degree) of the three sensors.
// Between the two the readings move linearly over the warm-up / cool-down time,
// so a client polling CR6 sees plausible, changing values.
constexpr std::array<int, 3> kStandbyTemps{250, 260, 255};
constexpr std::array<int, 3> kRunningTemps{325, 410, 380};

constexpr qint64 kMsPerHour = 3600LL * 1000;
constexpr int kMaxLampHours = 99999; // the reply has exactly five digits

const QByteArray kAckReply(1, ProjectorModel::kAck);
const QByteArray kErrorReply("?\r");

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isKeywordChar(char c) { return (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-'; }
bool isArgumentChar(char c) { return isKeywordChar(c) || c == '+' || c == '.'; }

int hexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

template <typename Pred> bool allOf(const QByteArray &word, Pred pred) {
    return !word.isEmpty() && std::all_of(word.cbegin(), word.cend(), pred);
}

// Splits "KEYWORD ARG ARG" on single blanks. A doubled, leading or trailing
// blank leaves an empty word, which the device rejects like any other typo.
bool splitWords(QByteArrayView text, QList<QByteArray> *words) {
    *words = text.toByteArray().split(' ');
    if (!allOf(words->first(), isKeywordChar))
        return false;
    for (qsizetype i = 1; i < words->size(); ++i) {
        if (!allOf(words->at(i), isArgumentChar))
            return false;
    }
    return true;
}

} // namespace

ProjectorModel::ProjectorModel(const ProjectorConfig &config) : m_config(config) {
    m_config.warmupMs = std::max<qint64>(0, m_config.warmupMs);
    m_config.cooldownMs = std::max<qint64>(0, m_config.cooldownMs);
    m_config.lampHours = std::clamp(m_config.lampHours, 0, kMaxLampHours);
    m_tempFrom = kStandbyTemps;
}

void ProjectorModel::advanceTo(qint64 nowMs) {
    if (nowMs <= m_now)
        return;
    // Walk through every transition due before nowMs so lamp time and
    // temperatures are accounted in the state that was really current.
    while ((m_state == PowerState::CountDown || m_state == PowerState::Cooling) && m_deadline <= nowMs) {
        accountLamp(m_deadline - m_now);
        m_now = m_deadline;
        enterState(m_state == PowerState::CountDown ? PowerState::On : PowerState::Standby);
    }
    accountLamp(nowMs - m_now);
    m_now = nowMs;
}

void ProjectorModel::advanceBy(qint64 ms) { advanceTo(m_now + std::max<qint64>(0, ms)); }

QList<Exchange> ProjectorModel::feed(QByteArrayView bytes) {
    QList<Exchange> exchanges;
    for (char c : bytes) {
        if (c == '\n')
            continue;
        if (c == '\r') {
            if (m_overflow) {
                exchanges.append({std::exchange(m_line, {}), m_config.silent ? QByteArray() : kErrorReply});
                m_overflow = false;
            } else if (!m_line.isEmpty()) {
                QByteArray command = std::exchange(m_line, {});
                QByteArray reply = execute(command);
                exchanges.append({std::move(command), std::move(reply)});
            }
            continue;
        }
        if (m_overflow)
            continue;
        if (m_line.size() >= kMaxCommandLength) {
            m_overflow = true;
            continue;
        }
        m_line.append(c);
    }
    return exchanges;
}

QByteArray ProjectorModel::execute(QByteArrayView command) {
    QByteArray reply = respond(command);
    settle();
    return m_config.silent ? QByteArray() : reply;
}

void ProjectorModel::resetInput() {
    m_line.clear();
    m_overflow = false;
}

QByteArray ProjectorModel::respond(QByteArrayView command) {
    if (command.size() == 3 && command[0] == 'C' && isHexDigit(command[1]) && isHexDigit(command[2])) {
        applyCode(hexValue(command[1]) * 16 + hexValue(command[2]));
        return kAckReply;
    }
    if (command.size() == 3 && command.startsWith("CR") && isDigit(command[2]))
        return readRegister(command[2]);

    const bool isRead = command.startsWith("CR ");
    const bool isSetting = command.startsWith("CF ");
    if (!isRead && !isSetting)
        return kErrorReply;

    QList<QByteArray> words;
    if (!splitWords(command.sliced(3), &words))
        return kErrorReply;
    if (isRead)
        return readKeyword(words.first());
    if (words.size() < 2) // a setting without a value means nothing
        return kErrorReply;
    applySetting(words);
    return kAckReply;
}

QByteArray ProjectorModel::readRegister(char digit) const {
    switch (digit) {
    case '0':
        switch (m_state) {
        case PowerState::Standby:
            return "80\r";
        case PowerState::CountDown:
            return "40\r";
        case PowerState::On:
            return "00\r";
        case PowerState::Cooling:
            return "20\r";
        }
        break;
    case '1':
        return QByteArray::number(m_input) + '\r';
    case '3': {
        const qint64 hours = std::min<qint64>(m_config.lampHours + m_litMs / kMsPerHour, kMaxLampHours);
        return QByteArray::number(hours).rightJustified(5, '0') + '\r';
    }
    case '4':
        // Each digit is 1 while that axis is not reversed. The first follows the rear
        // (left/right) setting and the second the ceiling (top/bottom) setting.
        return QByteArray(m_rear ? "0" : "1") + (m_ceiling ? "0" : "1") + '\r';
    case '6': {
        QByteArray reply;
        for (int tenths : temperatures()) {
            if (!reply.isEmpty())
                reply += ' ';
            const int clamped = std::clamp(tenths, 0, 9999);
            reply += QByteArray::number(clamped / 10).rightJustified(3, '0') + '.' + QByteArray::number(clamped % 10);
        }
        return reply + '\r';
    }
    case '7':
        return lampModeReply();
    default:
        break;
    }
    return kAckReply;
}

QByteArray ProjectorModel::readKeyword(const QByteArray &keyword) const {
    if (keyword == "LAMPSTS")
        return lampLit() ? "000 1I\r" : "000 1O\r";
    if (keyword == "LAMPMODE")
        return lampModeReply();
    return "000\r";
}

void ProjectorModel::applyCode(int code) {
    switch (code) {
    case 0x00:
        if (m_state == PowerState::Standby)
            enterState(PowerState::CountDown);
        break;
    case 0x01:
    case 0x02:
        if (m_state == PowerState::On || m_state == PowerState::CountDown)
            enterState(PowerState::Cooling);
        break;
    case 0x05:
    case 0x50:
    case 0x51:
    case 0x54:
        m_input = 1;
        break;
    case 0x06:
        m_input = 2;
        break;
    case 0x04:
        m_input = 3;
        break;
    case 0x07:
        m_input = 4;
        break;
    case 0x34:
        m_input = 5;
        break;
    default:
        break;
    }
}

void ProjectorModel::applySetting(const QList<QByteArray> &words) {
    const QByteArray &keyword = words.at(0);
    const QByteArray &value = words.at(1);
    if (keyword == "CEIL" || keyword == "REAR") {
        if (value != "ON" && value != "OFF")
            return;
        (keyword == "CEIL" ? m_ceiling : m_rear) = value == "ON";
    } else if (keyword == "LAMPMODE") {
        if (value == "NORMAL")
            m_lampMode = LampMode::Normal;
        else if (value == "AUTO")
            m_lampMode = LampMode::High;
        else if (value == "ECO1" || value == "ECO2")
            m_lampMode = LampMode::Eco;
    } else if (keyword == "INPUT") {
        if (value.size() == 1 && value[0] >= '1' && value[0] <= '5')
            m_input = value[0] - '0';
    }
}

void ProjectorModel::enterState(PowerState state) {
    m_tempFrom = temperatures();
    m_state = state;
    m_stateSince = m_now;
    if (state == PowerState::CountDown)
        m_deadline = m_now + m_config.warmupMs;
    else if (state == PowerState::Cooling)
        m_deadline = m_now + m_config.cooldownMs;
    if (m_powerObserver)
        m_powerObserver(state);
}

std::optional<qint64> ProjectorModel::nextPowerChangeAt() const {
    if (m_state == PowerState::CountDown || m_state == PowerState::Cooling)
        return m_deadline;
    return std::nullopt;
}

// A zero warm-up or cool-down completes at the very moment it starts.
void ProjectorModel::settle() {
    while ((m_state == PowerState::CountDown || m_state == PowerState::Cooling) && m_deadline <= m_now)
        enterState(m_state == PowerState::CountDown ? PowerState::On : PowerState::Standby);
}

void ProjectorModel::accountLamp(qint64 ms) {
    if (lampLit())
        m_litMs += ms;
}

bool ProjectorModel::lampLit() const { return m_state == PowerState::CountDown || m_state == PowerState::On; }

ProjectorModel::Temperatures ProjectorModel::temperatures() const {
    const Temperatures *target = nullptr;
    qint64 duration = 0;
    switch (m_state) {
    case PowerState::Standby:
        return kStandbyTemps;
    case PowerState::On:
        return kRunningTemps;
    case PowerState::CountDown:
        target = &kRunningTemps;
        duration = m_config.warmupMs;
        break;
    case PowerState::Cooling:
        target = &kStandbyTemps;
        duration = m_config.cooldownMs;
        break;
    }
    const qint64 elapsed = std::min(m_now - m_stateSince, duration);
    Temperatures result{};
    for (size_t i = 0; i < result.size(); ++i) {
        const qint64 span = (*target)[i] - m_tempFrom[i];
        result[i] = m_tempFrom[i] + int(duration > 0 ? span * elapsed / duration : span);
    }
    return result;
}

QByteArray ProjectorModel::lampModeReply() const {
    switch (m_lampMode) {
    case LampMode::Normal:
        return "000 NORMAL\r";
    case LampMode::High:
        return "000 HIGH\r";
    case LampMode::Eco:
        return "000 ECO\r";
    }
    return "000 NORMAL\r";
}

} // namespace tavo::sim
