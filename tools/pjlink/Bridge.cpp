#include "Bridge.h"

#include "exchange/ProjectorLine.h"
#include "host/SerialComponent.h"

namespace pjlink {

namespace {
const QByteArray err4 = QByteArrayLiteral("ERR4");
QString asText(std::string_view view) { return QString::fromLatin1(view.data(), qsizetype(view.size())); }
} // namespace

Bridge::Bridge(ProjectorLine &line, const QByteArray &name, qsizetype bound, QObject *parent)
    : QObject(parent), m_line(line), m_name(name), m_bound(bound) {
    connect(&line.port(), &SerialComponent::portLost, this,
            [this](const QString &reason) { lineWorks(false, reason); });
}

bool Bridge::request(const Row &row, QObject *client, Done done) {
    if (waiting() >= m_bound)
        return false;
    Job job{&row, client, std::move(done), {}, {}};
    if (row.sentIn != anyState)
        job.commands << QStringLiteral("CR0");
    for (std::string_view command : row.sends)
        if (!command.empty())
            job.commands << asText(command);
    m_jobs.push_back(std::move(job));
    startNext();
    return true;
}

QByteArray Bridge::answerAtOnce(const Row &row) const { return answerFor(row, {}, m_memory, m_name); }

void Bridge::openLine() {
    m_opening = true;
    SerialComponent &port = m_line.port();
    port.openAsync([this, &port](const std::optional<PortError> &failure) {
        m_opening = false;
        if (failure)
            lineWorks(false, failure->detail() + QStringLiteral(" Trying again at the next command."));
        else
            emit event(QStringLiteral("projector line: opened %1").arg(port.deviceName()));
        startNext();
    });
}

void Bridge::startNext() {
    while (!m_busy && !m_opening && !m_jobs.empty()) {
        const Job &job = m_jobs.front();
        // Nobody waits for this answer any more, and asking changes nothing.
        if (job.row->parameter == "?" && !job.client) {
            m_jobs.pop_front();
            continue;
        }
        m_busy = true;
        sendNext();
    }
}

void Bridge::sendNext() {
    const Job &job = m_jobs.front();
    // ProjectorLine runs `done` from the event loop, never inside send().
    m_line.send(job.commands[job.next], [this](const LineExchange &exchange) { exchangeDone(exchange); });
}

void Bridge::exchangeDone(const LineExchange &exchange) {
    Job &job = m_jobs.front();
    if (!exchange.failure.isEmpty() || !exchange.answered) {
        lineWorks(false, exchange.failure.isEmpty() ? QStringLiteral("no reply to %1").arg(exchange.command)
                                                    : exchange.failure);
        finish(err4);
        return;
    }
    lineWorks(true, {});
    const bool stateCheck = job.row->sentIn != anyState && job.next == 0;
    ++job.next;
    if (stateCheck) {
        if (const QByteArray refused = refusal(*job.row, exchange.reply); !refused.isEmpty()) {
            finish(refused);
            return;
        }
    } else {
        job.replies << exchange.reply;
    }
    if (job.next < job.commands.size()) {
        sendNext();
        return;
    }
    const QByteArray result = answerFor(*job.row, job.replies, m_memory, m_name);
    if (result == "OK")
        remember(*job.row, m_memory);
    finish(result);
}

void Bridge::finish(const QByteArray &result) {
    const Job job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_busy = false;
    if (job.done)
        job.done(result);
    startNext();
}

void Bridge::lineWorks(bool works, const QString &why) {
    if (works == m_lineWorks)
        return;
    m_lineWorks = works;
    emit event(works ? QStringLiteral("projector line: answers again") : QStringLiteral("projector line: %1").arg(why));
}

} // namespace pjlink
