#pragma once

#include "core/contacts/CallFilter.h"
#include "core/contacts/CallRecord.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

class PostgresRegister;

// The call log of a server register: a call stored, a page for the calls
// window, every call since a moment, and the old ones pruned. Each runs on
// the calling thread's connection of the register, under its limits, and a
// failure is said as the register says its own.
class PostgresCallLog
{
public:
    explicit PostgresCallLog(PostgresRegister &reg)
        : m_register(reg)
    {
    }

    // Stores the call; `call->id` receives its id.
    bool log(CallRecord *call, QString *error);
    // The calls the filter lets through with an id below `beforeId` (all
    // when 0), at most `limit`, newest first.
    bool readPage(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error);
    // Every call since `since` (all when invalid), oldest first, until
    // `visit` says stop.
    bool forEach(const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error);
    bool prune(const QDateTime &before, qint64 *removed, QString *error);

private:
    PostgresRegister &m_register;
};
