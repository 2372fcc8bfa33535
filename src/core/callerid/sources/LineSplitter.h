#pragma once

#include <QByteArray>
#include <QList>

// Cuts what a modem, a server or a client sends into lines: a line ends at
// CR, at LF or at CR LF, whichever comes; empty lines are dropped. A line
// longer than the bound is dropped whole, up to the break that ends it:
// garbage cannot grow without limit, nor can its tail pass for a line.
class LineSplitter
{
public:
    explicit LineSplitter(qsizetype maxLine = 4096);

    // The lines completed by `bytes`.
    QList<QByteArray> feed(const QByteArray &bytes);
    void clear()
    {
        m_pending.clear();
        m_overlong = false;
    }

private:
    qsizetype m_maxLine;
    QByteArray m_pending;
    bool m_overlong = false; // inside a line past the bound, until it ends
};
