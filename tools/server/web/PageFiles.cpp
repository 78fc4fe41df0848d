#include "PageFiles.h"

#include <QCryptographicHash>

namespace {

// Whether an Accept-Encoding header takes `coding`: named with a weight above 0, or left
// to "*" with one.
bool accepts(QByteArrayView header, QByteArrayView coding) {
    bool star = false;
    for (const QByteArray &item : QByteArray(header.data(), header.size()).split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray name = parts.first().trimmed().toLower();
        double weight = 1.0;
        for (qsizetype i = 1; i < parts.size(); ++i)
            if (const QByteArray parameter = parts[i].trimmed().toLower(); parameter.startsWith("q="))
                weight = parameter.mid(2).toDouble();
        if (name == coding)
            return weight > 0;
        if (name == "*")
            star = weight > 0;
    }
    return star;
}

// Whether If-None-Match names `tag` (weakly, as the header is compared), or is "*".
bool names(QByteArrayView header, const QByteArray &tag) {
    for (const QByteArray &item : QByteArray(header.data(), header.size()).split(',')) {
        QByteArray each = item.trimmed();
        if (each == "*")
            return true;
        if (each.startsWith("W/"))
            each = each.mid(2);
        if (each == tag)
            return true;
    }
    return false;
}

} // namespace

PageFile::PageFile(QByteArray content, QByteArray contentType) : type(std::move(contentType)), body(std::move(content)) {
    tag = '"' + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().left(20) + '"';
    // qCompress gives a zlib stream behind a four-byte length of its own.
    const QByteArray compressed = qCompress(body, 9).mid(4);
    if (compressed.size() < body.size())
        deflated = compressed;
}

PageAnswer pageAnswer(const PageFile &file, QByteArrayView ifNoneMatch, QByteArrayView acceptEncoding) {
    const bool deflate = !file.deflated.isEmpty() && accepts(acceptEncoding, "deflate");
    const QByteArray tag = deflate ? file.tag.chopped(1) + "-deflate\"" : file.tag;
    PageAnswer answer;
    // Kept, but asked about again each time: a server of another version may serve others.
    answer.headers = {{"Cache-Control", "no-cache"}, {"ETag", tag}, {"Vary", "Accept-Encoding"}};
    if (!ifNoneMatch.isEmpty() && names(ifNoneMatch, tag)) {
        answer.status = 304;
        return answer;
    }
    answer.body = deflate ? file.deflated : file.body;
    if (deflate)
        answer.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "deflate"));
    return answer;
}
