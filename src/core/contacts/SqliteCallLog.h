#pragma once

#include "core/contacts/CallFilter.h"
#include "core/contacts/CallRecord.h"
#include "core/contacts/RegisterProblem.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>

#include <functional>

// The call log's reads in an SQLite register: a page for the calls window,
// newest first, and every call since a moment, oldest first.
class SqliteCallLog
{
public:
    // The calls the filter lets through with an id below `beforeId` (all
    // when 0), at most `limit`, newest first.
    static bool readPage(const QSqlDatabase &db, const QString &filePath, const CallFilter &filter, qint64 beforeId,
        int limit, QList<CallRecord> *rows, QString *error, RegisterProblem *problem = nullptr);
    static bool forEach(const QSqlDatabase &db, const QString &filePath, const QDateTime &since,
        const std::function<bool(const CallRecord &)> &visit, QString *error);
};
