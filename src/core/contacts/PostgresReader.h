#pragma once

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QSqlDatabase>

#include <atomic>
#include <functional>
#include <memory>

// The grid's and the background reader's connection to the server register.
// It connects anew after the server was lost. A server whose bare round trip
// alone is longer than a read's budget (one across town) is not asked within
// a budget at all: such a read ends at once with `tooLong`, for the
// background reader to take up, rather than hold the window for round trips
// that cannot fit. The round trip is timed when the connection is made.
class PostgresReader : public Register::Reader
{
public:
    // A reader on the window's thread is given what the register knows of
    // the server (`reachable`: it neither connects nor reads while the server
    // is out of reach, and says so when it finds it gone) and the program's
    // limit on a read, `answerMs`.
    explicit PostgresReader(QString server, std::shared_ptr<std::atomic<bool>> reachable = {}, int answerMs = 0);
    ~PostgresReader() override;

    bool isOpen(QString *error) override;
    bool listPage(const NamePattern &pattern, const Register::ListRow *after, int limit, QList<Register::ListRow> *rows,
        QString *error, const Register::Limits &limits) override;
    bool listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error,
        const Register::Limits &limits) override;

private:
    using Read = std::function<bool(QSqlDatabase, PostgresConnection::Problem *)>;
    // `read` on the reader's connection, stopped when it runs past the budget.
    bool readWithin(const Register::Limits &limits, QString *error, const Read &read);
    bool gone(QString *error, const QString &detail);

    QString m_server;
    std::shared_ptr<std::atomic<bool>> m_reachable;
    int m_answerMs = 0;
    std::unique_ptr<PostgresConnection> m_connection;
    double m_roundTripMs = 0; // the connection's shortest bare round trip
};
