#pragma once

#include "LineSplitter.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <optional>

class QTcpSocket;

// The limits of a connection that speaks lines ending in CR.
struct LineLimits {
    qsizetype longestLine = 136; // its CR included; a longer one closes the connection
    int idleMs = 30000;          // a client that sends no line for this long is closed; 0: never
    int drainMs = 5000;          // what a closing connection has not sent by then is dropped with it
    // Answers not yet taken by the client. Past this no further line is read until they drain,
    // so a client that sends and never reads cannot make the server hold more for it.
    qsizetype unsentLimit = 64 * 1024;
};

// One client's connection for a front end that takes one line at a time (PJLink, the
// projector's own commands): hands over the next line only when the one before has been
// answered, bounds what it holds for the client, closes an idle connection for real, and
// still answers a client that has closed its sending side after its last line. Deletes
// itself, and its socket, once the connection is gone.
class LineConnection : public QObject {
    Q_OBJECT
public:
    LineConnection(QTcpSocket *socket, const LineLimits &limits, QObject *parent = nullptr);
    ~LineConnection() override;

    // "192.0.2.7:50312", for the log.
    const QString &peer() const { return m_peer; }
    // The client's address, an IPv4 one as itself.
    const QHostAddress &address() const { return m_address; }

    // Starts reading; call once the receiver of lineReceived() is connected.
    void start();
    // Sends bytes: a greeting, or an answer.
    void send(const QByteArray &bytes);
    // The line handed over has been dealt with; the next one may come.
    void lineDone();
    // Sends what is queued, then closes (or aborts once drainMs have passed). `why` goes to
    // the log at `level` unless empty.
    void close(const QString &why, QtMsgType level = QtInfoMsg);
    // How much longer the first line may be (a PJLink digest in front of it).
    void setFirstLineAllowance(qsizetype extra) { m_splitter.setFirstLineAllowance(extra); }
    void setIdleMs(int ms);

signals:
    // One line, its CR taken off; no further one comes until lineDone().
    void lineReceived(const QByteArray &line);
    // One line for the log at `level`, already naming the client.
    void event(QtMsgType level, const QString &line);

private:
    void readMore();
    std::optional<QByteArray> takeLine();
    void peerGone();
    void finishIfDone();
    void finish();
    void restartIdle();
    qsizetype unsent() const;

    QTcpSocket *m_socket;
    LineLimits m_limits;
    QString m_peer;
    QHostAddress m_address;
    LineSplitter m_splitter;
    bool m_busy = false;    // a line is out, not yet done
    bool m_closing = false;
    bool m_peerDone = false; // nothing more comes from the client
    bool m_finished = false;
    // A second descriptor of the connection: Qt closes its own at the client's end of
    // sending, while the client may still be waiting for its answer.
    int m_spare = -1;
    QTimer m_idle;
    QTimer m_drain;
};
