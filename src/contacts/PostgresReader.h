#pragma once

#include "contacts/Register.h"

#include <QSqlDatabase>

#include <functional>
#include <memory>

class PostgresConnection;

// The grid's and the background reader's connection to the server register.
// It connects anew after the server was lost.
class PostgresReader : public Register::Reader
{
public:
    explicit PostgresReader(QString server);
    ~PostgresReader() override;

    bool isOpen(QString *error) override;
    bool listPage(const NamePattern &pattern, const Register::ListRow *after, int limit, QList<Register::ListRow> *rows,
        QString *error, const Register::Limits &limits) override;
    bool listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error,
        const Register::Limits &limits) override;

private:
    // `read` on the reader's connection, stopped when it runs past the budget.
    bool readWithin(const Register::Limits &limits, QString *error, const std::function<bool(QSqlDatabase)> &read);

    QString m_server;
    std::unique_ptr<PostgresConnection> m_connection;
};
