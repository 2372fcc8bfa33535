#include "core/callerid/sources/LineSplitter.h"

LineSplitter::LineSplitter(qsizetype maxLine)
    : m_maxLine(maxLine)
{
}

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const auto take = [&](qsizetype end) {
        // A line grown past the bound is dropped to its end: what follows in
        // it is not a line of its own, whatever it looks like.
        if (!m_overlong && m_pending.size() + (end - start) > m_maxLine) {
            m_overlong = true;
            m_pending.clear();
        }
        if (!m_overlong)
            m_pending += bytes.mid(start, end - start);
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        take(i);
        if (!m_overlong && !m_pending.isEmpty())
            lines << m_pending;
        m_pending.clear();
        m_overlong = false;
        start = i + 1;
    }
    take(bytes.size());
    return lines;
}
