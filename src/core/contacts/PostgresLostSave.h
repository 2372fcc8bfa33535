#pragma once

#include "core/contacts/PostgresRegister.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

class PostgresDeadline;

// A save on the server whose COMMIT got no answer may have been stored: its
// transaction is kept, and asked about before the next save, so that saving
// again never stores the contact twice. Works on the register's lost save,
// its connections and its way of saying a failure.
class PostgresLostSave
{
public:
    explicit PostgresLostSave(PostgresRegister &reg)
        : m_register(reg)
    {
    }

    // A COMMIT failed: when its answer was lost, `save` is kept to be asked about.
    bool failCommit(QString *error, const QSqlError &e, QSqlDatabase db, PostgresDeadline &limit,
        const PostgresRegister::LostSave &save);
    // Asks whether the lost save was stored; false while that is not known.
    bool settle(QSqlDatabase db, PostgresDeadline &limit, QString *error);

private:
    PostgresRegister &m_register;
};
