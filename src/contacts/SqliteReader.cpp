#include "contacts/SqliteReader.h"

#include "contacts/SqliteRegister.h"

#include <QElapsedTimer>

SqliteReader::SqliteReader(QString filePath, int busyWaitMs)
    : m_filePath(std::move(filePath))
    , m_connection(m_filePath, SqlConnection::Mode::OpenExisting, busyWaitMs)
{
}

bool SqliteReader::isOpen(QString *error)
{
    return m_connection.isOpen() || SqliteRegister::openFailure(error, m_filePath, m_connection);
}

bool SqliteReader::listPage(const NamePattern &pattern, const Register::ListRow *after, int limit,
    QList<Register::ListRow> *rows, QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&] {
        return SqliteRegister::listPage(m_connection.database(), m_filePath, pattern, after, limit, rows, error);
    });
}

bool SqliteReader::listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
    QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&] {
        return SqliteRegister::readCalls(m_connection.database(), m_filePath, filter, beforeId, limit, rows, error);
    });
}

bool SqliteReader::readWithin(const Register::Limits &limits, QString *error, const std::function<bool()> &read)
{
    if (!isOpen(error))
        return false;
    QElapsedTimer timer;
    timer.start();
    bool tooLong = false;
    m_connection.setInterruptCheck([&] {
        if (limits.budgetMs > 0 && timer.elapsed() >= limits.budgetMs)
            return tooLong = true;
        return limits.cancelled && limits.cancelled();
    });
    const bool ok = read();
    m_connection.setInterruptCheck({});
    // The window does not wait for a file another program holds busy: the
    // background reader does.
    if (!ok && limits.budgetMs > 0 && Register::isBusy(*error))
        tooLong = true;
    if (limits.tooLong)
        *limits.tooLong = tooLong;
    return ok;
}
