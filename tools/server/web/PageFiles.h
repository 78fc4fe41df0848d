#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

// One of the page's files (or tables) as it is served: made once, with a strong ETag from its
// content and a deflated copy for the clients that accept one, so that a browser coming back
// is answered 304 and a first load travels compressed.
struct PageFile {
    QByteArray type;
    QByteArray body;
    QByteArray deflated; // a zlib stream (Content-Encoding: deflate); empty when it saves nothing
    QByteArray tag;      // the ETag of the body; the deflated copy's is the same with "-deflate"

    PageFile() = default;
    PageFile(QByteArray body, QByteArray type);
};

struct PageAnswer {
    int status = 200; // or 304
    QByteArray body;  // empty for 304
    QList<std::pair<QByteArray, QByteArray>> headers; // Cache-Control, ETag, Vary, Content-Encoding
};

// What to answer a GET of `file`, given the request's If-None-Match and Accept-Encoding.
PageAnswer pageAnswer(const PageFile &file, QByteArrayView ifNoneMatch, QByteArrayView acceptEncoding);
