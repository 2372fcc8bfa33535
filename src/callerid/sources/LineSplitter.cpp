#include "callerid/sources/LineSplitter.h"

LineSplitter::LineSplitter(qsizetype maxLine)
    : m_maxLine(maxLine)
{
}

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        m_pending += bytes.mid(start, i - start);
        if (!m_pending.isEmpty())
            lines << m_pending;
        m_pending.clear();
        start = i + 1;
    }
    m_pending += bytes.mid(start);
    if (m_pending.size() > m_maxLine)
        m_pending.clear(); // garbage without line breaks
    return lines;
}
