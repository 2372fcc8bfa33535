#pragma once

#include <QByteArray>
#include <QList>

// Cuts what a modem, a server or a client sends into lines: a line ends at
// CR, at LF or at CR LF, whichever comes; empty lines are dropped. A line that
// never ends is cut off at a bound, so garbage cannot grow without limit.
class LineSplitter
{
public:
    explicit LineSplitter(qsizetype maxLine = 4096);

    // The lines completed by `bytes`.
    QList<QByteArray> feed(const QByteArray &bytes);
    void clear() { m_pending.clear(); }

private:
    qsizetype m_maxLine;
    QByteArray m_pending;
};
