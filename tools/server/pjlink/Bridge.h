#pragma once

#include "LineQueue.h"
#include "Mapping.h"

#include <QObject>

#include <functional>

namespace pjlink {

// Turns PJLink rows into requests on the projector line's queue and makes each answer from
// the replies. The mutes are answered from what the shared readings remember; the Computer 1
// input last set through PJLink is held here.
class Bridge : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const QByteArray &result)>;

    Bridge(LineQueue &queue, const QByteArray &name, QObject *parent = nullptr);

    // Queues a row that needs the line for `client`; `done` gets the answer's result ("OK",
    // "1", "ERR4"...) later, never inside this call. False when the queue has no room.
    bool request(const Row &row, LineQueue::ClientId client, Done done);
    // The answer to a row that needs no line.
    QByteArray answerAtOnce(const Row &row) const;

private:
    QByteArray answer(const Row &row, const QList<LineExchange> &exchanges);
    Memory memory() const;

    LineQueue &m_queue;
    QByteArray m_name;
    Memory m_memory;
};

} // namespace pjlink
