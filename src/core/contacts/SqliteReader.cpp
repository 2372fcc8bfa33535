#include "core/contacts/SqliteReader.h"

#include "core/contacts/SqliteCallLog.h"
#include "core/contacts/SqliteRegister.h"

#include <QElapsedTimer>

SqliteReader::SqliteReader(QString filePath, int busyWaitMs)
    : m_filePath(std::move(filePath))
    , m_busyWaitMs(busyWaitMs)
    , m_connection(std::make_unique<SqlConnection>(m_filePath, SqlConnection::Mode::OpenExisting, busyWaitMs))
{
}

SqliteReader::~SqliteReader() = default;

bool SqliteReader::isOpen(QString *error)
{
    // A file another program held busy while the connection opened may be
    // free now: the connection is opened again rather than kept failed.
    if (!m_connection->isOpen() && m_connection->problem() == RegisterProblem::Busy) {
        m_connection.reset();
        m_connection = std::make_unique<SqlConnection>(m_filePath, SqlConnection::Mode::OpenExisting, m_busyWaitMs);
    }
    return m_connection->isOpen() || SqliteRegister::openFailure(error, m_filePath, *m_connection, &m_problem);
}

bool SqliteReader::listPage(const NamePattern &pattern, const Register::ListRow *after, int limit,
    QList<Register::ListRow> *rows, QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&] {
        return SqliteRegister::listPage(
            m_connection->database(), m_filePath, pattern, after, limit, rows, error, &m_problem);
    });
}

bool SqliteReader::listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
    QString *error, const Register::Limits &limits)
{
    return readWithin(limits, error, [&] {
        return SqliteCallLog::readPage(
            m_connection->database(), m_filePath, filter, beforeId, limit, rows, error, &m_problem);
    });
}

bool SqliteReader::readWithin(const Register::Limits &limits, QString *error, const std::function<bool()> &read)
{
    m_problem = RegisterProblem::None;
    if (!isOpen(error)) {
        if (limits.tooLong)
            *limits.tooLong = limits.budgetMs > 0 && m_problem == RegisterProblem::Busy;
        if (limits.problem)
            *limits.problem = m_problem;
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    bool tooLong = false;
    m_connection->setInterruptCheck([&] {
        if (limits.budgetMs > 0 && timer.elapsed() >= limits.budgetMs)
            return tooLong = true;
        return limits.cancelled && limits.cancelled();
    });
    const bool ok = read();
    m_connection->setInterruptCheck({});
    // The window does not wait for a file another program holds busy: the
    // background reader does.
    if (!ok && limits.budgetMs > 0 && m_problem == RegisterProblem::Busy)
        tooLong = true;
    if (limits.tooLong)
        *limits.tooLong = tooLong;
    if (limits.problem)
        *limits.problem = ok ? RegisterProblem::None : m_problem;
    return ok;
}
