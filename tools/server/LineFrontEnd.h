#pragma once

#include "LineConnection.h"
#include "LineQueue.h"

#include <QObject>

class Listener;

// The projector's own protocol over TCP, for the panel and tavo-send through socket://
// ports: each command a client sends, up to its CR, goes to the line as it is, and the reply
// goes back to that client alone. A command that gets no reply in time gets nothing back,
// as on a serial line; bytes nobody asked for go to no client.
class LineFrontEnd : public QObject {
    Q_OBJECT
public:
    // The longest command taken, its CR included.
    static constexpr qsizetype longestCommand = 256;

    LineFrontEnd(Listener &listener, LineQueue &queue, QObject *parent = nullptr);

private:
    void accept();

    Listener &m_listener;
    LineQueue &m_queue;
};
