#include "LineFrontEnd.h"

#include "Listener.h"
#include "Log.h"

#include "exchange/Transcript.h"

#include <QPointer>
#include <QTcpSocket>

#include <algorithm>

LineFrontEnd::LineFrontEnd(Listener &listener, LineQueue &queue, QObject *parent)
    : QObject(parent), m_listener(listener), m_queue(queue) {
    connect(&listener, &QTcpServer::newConnection, this, &LineFrontEnd::accept);
}

void LineFrontEnd::accept() {
    // The panel keeps its port open for hours without a word: no idle close.
    const LineLimits limits{longestCommand, 0, 5000, 64 * 1024};
    while (QTcpSocket *socket = m_listener.nextPendingConnection()) {
        auto *connection = new LineConnection(socket, limits, this);
        const LineQueue::ClientId client = m_queue.addClient(QStringLiteral("line"), connection->peer(), connection->address());
        connect(connection, &QObject::destroyed, this, [this, client] { m_queue.removeClient(client); });
        connect(connection, &LineConnection::event, this, [](QtMsgType level, const QString &line) {
            logAt(logLine(), level, QStringLiteral("line: %1").arg(line));
        });
        connect(connection, &LineConnection::lineReceived, this, [this, client, connection](const QByteArray &line) {
            // A line feed or any other control character inside would reach the projector as
            // a second command behind the first ("CR0\nC00" passing for a query): never sent.
            if (std::any_of(line.begin(), line.end(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; })) {
                qCWarning(logLine).noquote()
                    << QStringLiteral("line: %1: \"%2\" refused, a control character inside")
                           .arg(connection->peer(), renderTranscript(QString::fromLatin1(line.left(32))).text);
                connection->lineDone();
                return;
            }
            LineRequest request;
            request.commands = {QString::fromLatin1(line)};
            request.done = [connection = QPointer<LineConnection>(connection)](const QList<LineExchange> &exchanges) {
                if (!connection)
                    return;
                if (exchanges.value(0).answered)
                    connection->send(exchanges.front().reply.toLatin1());
                connection->lineDone();
            };
            if (m_queue.submit(client, std::move(request)) != LineQueue::Refusal::none) {
                // Dropped, as a projector too busy to listen would: the client sees no reply.
                qCWarning(logLine).noquote()
                    << QStringLiteral("line: %1: \"%2\" dropped, the queue is full")
                           .arg(connection->peer(), renderTranscript(QString::fromLatin1(line.left(32))).text);
                connection->lineDone();
            }
        });
        qCInfo(logLine).noquote() << QStringLiteral("line: connection from %1").arg(connection->peer());
        connection->start();
    }
}
