#include "LineSplitter.h"

void LineSplitter::add(QByteArrayView bytes) { m_inbox += bytes.first(std::min(bytes.size(), room())); }

LineSplitter::Next LineSplitter::next(QByteArray *line) {
    while (m_inbox.startsWith('\n'))
        m_inbox.remove(0, 1);
    const qsizetype end = m_inbox.indexOf('\r');
    if (end >= 0 && end < longest()) {
        *line = m_inbox.left(end);
        m_inbox.remove(0, end + 1);
        m_allowance = 0;
        return Next::line;
    }
    if (end >= 0 || m_inbox.size() >= longest())
        return Next::tooLong;
    return Next::needMore;
}
