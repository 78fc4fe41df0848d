#pragma once

// The outcome of one command on one port, and how every program reports it: a tab-separated
// line for people and awk (tavo-send), or a JSON object for scripts, the HTTP API's answer,
// the MQTT result and the events.

#include "exchange/CommandWords.h"
#include "exchange/ProjectorLine.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

struct Outcome {
    QString port; // as the user gave it
    Command command;
    LineExchange exchange; // as the line read it where it ended; its reading is reported as it is

    bool sent = true; // false when the port never opened
    int timeoutMs = 0;
};

// Why the command got no good answer (not sent, failed, no reply, refused by the projector,
// a reply that is no reading), or an empty string when it got one.
QString problemOf(const Outcome &outcome);

// "3<TAB>CR0<TAB>" 8 0  [CR] "<TAB>Stand by": the port, the code, the reply in the panel's
// transcript rendering (or "-" when nothing came), and the status box's words, or what
// went wrong.
QByteArray textLine(const Outcome &outcome);

// The JSON object of jsonLine().
QJsonObject jsonObject(const Outcome &outcome);

// {"port":"3","command":"CR0","sent":"CR0\r","reply":"80\r","shown":" 8 0  [CR] ",
//  "status":"Stand by","value":"standby","ms":12.3,"ok":true,...}
QByteArray jsonLine(const Outcome &outcome);
