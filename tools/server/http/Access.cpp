#include "Access.h"

namespace {

bool sameBytes(const QByteArray &a, const QByteArray &b) {
    if (a.isEmpty() || a.size() != b.size())
        return false;
    // Takes as long wherever they differ.
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool isPublicRead(const HttpRequestFacts &request) {
    return request.method == "GET" && (request.path == QLatin1String("/metrics") || request.path == QLatin1String("/api/status"));
}

} // namespace

bool changesState(const QByteArray &method) { return method != "GET" && method != "HEAD"; }

QString hostPart(const QByteArray &host) {
    QString text = QString::fromLatin1(host).trimmed().toLower();
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype end = text.indexOf(QLatin1Char(']'));
        return end < 0 ? QString() : text.mid(1, end - 1);
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    return colon < 0 ? text : text.left(colon);
}

bool carriesPassword(const QByteArray &authorization, const QByteArray &password) {
    const QByteArray value = authorization.trimmed();
    const qsizetype blank = value.indexOf(' ');
    if (blank < 0)
        return false;
    // Scheme names are case-insensitive (RFC 9110).
    const QByteArray scheme = value.left(blank).toLower();
    const QByteArray credentials = value.mid(blank + 1).trimmed();
    if (scheme == "bearer")
        return sameBytes(credentials, password);
    if (scheme != "basic")
        return false;
    const QByteArray decoded = QByteArray::fromBase64(credentials);
    const qsizetype colon = decoded.indexOf(':');
    return colon >= 0 && sameBytes(decoded.mid(colon + 1), password);
}

bool fromOwnPage(const HttpRules &rules, const HttpRequestFacts &request) {
    return request.origin.isEmpty() || request.origin == request.scheme + "://" + request.host ||
           (!rules.publicOrigin.isEmpty() && request.origin == rules.publicOrigin);
}

HttpVerdict judge(const HttpRules &rules, const HttpRequestFacts &request) {
    if (!request.host.isEmpty() && !rules.hostNames.contains(hostPart(request.host)))
        return {421, QStringLiteral("this server does not answer to the name \"%1\"").arg(hostPart(request.host)), false};
    const bool authorised =
        !rules.password.isEmpty() && (request.session || carriesPassword(request.authorization, rules.password));
    if (changesState(request.method)) {
        if (!fromOwnPage(rules, request))
            return {403, QStringLiteral("a change from a page of another origin"), false};
        if (authorised || (rules.password.isEmpty() && request.fromLoopback))
            return {};
        if (rules.password.isEmpty())
            return {403, QStringLiteral("changes are open to this machine only (no HTTP password is set)"), false};
        return {401, QStringLiteral("the HTTP password is needed"), true};
    }
    if (request.fromLoopback || authorised || (rules.publicRead && isPublicRead(request)))
        return {};
    if (rules.password.isEmpty())
        return {403, QStringLiteral("open to this machine only"), false};
    return {401, QStringLiteral("the HTTP password is needed"), true};
}
