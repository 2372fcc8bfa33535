#pragma once

#include <QElapsedTimer>
#include <QString>

// A progress line on the terminal for work that takes a while: rewritten in
// place on standard error, at most a few times a second, and only when
// standard error is a terminal (a script's log gets no such lines).
class TerminalProgress
{
public:
    explicit TerminalProgress(QString what);
    ~TerminalProgress();

    void show(qint64 done, qint64 total);
    // Ends the line, so that what follows starts on a line of its own.
    void finish();

private:
    QString m_what;
    bool m_terminal = false;
    bool m_shown = false;
    QElapsedTimer m_since;
    qint64 m_lastMs = -1;
};
