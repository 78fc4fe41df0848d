#pragma once

// Who may do what over HTTP: pure rules, apart from the server that applies them.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct HttpRules {
    QByteArray password;   // empty: none set
    bool publicRead = false; // /metrics and GET /api/status open to other machines without it
    QStringList hostNames; // the names and addresses the server answers to, lower case, no port
    // "https://projector.example": the origin people reach the page at, through a proxy in
    // front; empty when none is given. Only then are X-Forwarded-* headers believed, and only
    // from loopback.
    QByteArray publicOrigin = {};
};

// What the rules look at in a request.
struct HttpRequestFacts {
    QByteArray method; // "GET", "POST"...
    QString path;
    bool fromLoopback = false;
    QByteArray host;          // the Host header ("192.0.2.7:8735"), empty when absent
    QByteArray origin;        // the Origin header, empty when absent
    QByteArray authorization; // the Authorization header, empty when absent
    bool session = false;     // carries the cookie of a session opened with the password
    QByteArray scheme = "http"; // the scheme the client reached the server by
};

struct HttpVerdict {
    int status = 0; // 0: allowed; otherwise the HTTP status to answer
    QString reason;
    bool askForPassword = false; // answer with a WWW-Authenticate challenge
};

// True when a request without an Origin, or from a page of this server: at the scheme and
// Host it was reached by, or at the public origin.
bool fromOwnPage(const HttpRules &rules, const HttpRequestFacts &request);

// Reads change nothing; everything else may change the projector.
bool changesState(const QByteArray &method);

// The rules, in order:
// - a Host that is not one of the server's own names or addresses is refused (a page of
//   another site that a renamed DNS entry points here);
// - a change from a page of another origin is refused;
// - a change needs the password when one is set, and is refused to other machines without;
// - reads are open to this machine; to other machines they need the password, except
//   /metrics and GET /api/status when they are opened to everyone.
HttpVerdict judge(const HttpRules &rules, const HttpRequestFacts &request);

// True when the Authorization header carries the password (Basic, any user name; or Bearer).
bool carriesPassword(const QByteArray &authorization, const QByteArray &password);

// The host part of a Host header or an address: "[::1]:80" gives "::1", "Example:80" gives "example".
QString hostPart(const QByteArray &host);
