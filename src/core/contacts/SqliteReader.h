#pragma once

#include "core/contacts/Register.h"
#include "core/contacts/SqlConnection.h"

#include <memory>

// The grid's and the background reader's connection to the register's file:
// it waits for a file another program holds busy only as long as it is told
// (the window not at all; the caller decides what then).
class SqliteReader : public Register::Reader
{
public:
    SqliteReader(QString filePath, int busyWaitMs);
    ~SqliteReader() override;

    bool isOpen(QString *error) override;
    bool listPage(const NamePattern &pattern, const Register::ListRow *after, int limit, QList<Register::ListRow> *rows,
        QString *error, const Register::Limits &limits) override;
    bool listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error,
        const Register::Limits &limits) override;

private:
    // `read`, stopped when it runs past the budget or is cancelled.
    bool readWithin(const Register::Limits &limits, QString *error, const std::function<bool()> &read);

    QString m_filePath;
    int m_busyWaitMs;
    std::unique_ptr<SqlConnection> m_connection;
    RegisterProblem m_problem = RegisterProblem::None; // of the read going on
};
