#pragma once

#include "contacts/ContactRecord.h"
#include "contacts/NamePattern.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <optional>

class PhoneNumber;

// The contact register: table CADA in an SQLite file. Every operation opens its
// own short connection and closes it at its end; every write is one
// transaction. All values are bound, never pasted into SQL. The SQL dialect
// (sort key, auto-number, count) stays inside this class.
//
// Errors come back as false plus a Portuguese text naming what went wrong.
class ContactStore
{
public:
    // How long an operation waits for a register another program holds busy:
    // on the window's thread briefly, so that the window keeps answering;
    // off it, a few seconds.
    enum class Patience { Window, Background };
    static constexpr int WindowReadWaitMs = 250;
    static constexpr int WindowWriteWaitMs = 2000;

    explicit ContactStore(QString filePath, Patience patience = Patience::Background);
    const QString &filePath() const { return m_filePath; }

    // After a failure: is the register there and well, only busy for now, or
    // gone (missing, damaged, not a register)?
    enum class Health { Ok, Busy, Gone };
    Health health() const;
    // Whether an error this class reported says the register was busy.
    static bool isBusy(const QString &error);

    // Creates a new register file with its table and indexes. Fails when the
    // file exists.
    static bool create(const QString &filePath, QString *error);

    // The number of rows, as COUNT(*). Also proves that the file is a
    // register: a missing table is an error.
    bool count(qint64 *result, QString *error) const;

    // The row with this code, or nothing when there is none.
    bool findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error) const;
    // The contact whose telephone is this number, however either was written
    // (compared by key); nothing when there is none.
    bool findCaller(const PhoneNumber &number, std::optional<ContactRecord> *result, QString *error) const;

    // Stores a new row; `newCode` receives the code the database gave it.
    bool insert(const ContactRecord &record, qint64 *newCode, QString *error) const;
    // Rewrites the row with record.cd; `found` tells whether that row existed.
    bool update(const ContactRecord &record, bool *found, QString *error) const;
    bool remove(qint64 code, QString *error) const;

    // The table, its telephone key and its indexes, on an open connection
    // inside the caller's transaction.
    static bool createSchema(const QSqlDatabase &db, QString *detail);
    // Gives a register made by an earlier version what this one reads it
    // through (the telephone keys' table and its triggers). Quick: it
    // changes only the schema; buildIndexes() keys the rows already there.
    bool upgrade(QString *error) const;
    // Keys the telephones not keyed yet and creates the indexes that are
    // missing. On a large register this reads every row: run it off the
    // window's thread.
    bool buildIndexes(QString *error) const;

    // One row of the contact list, as the grid shows it.
    struct ListRow
    {
        qint64 cd = 0;
        QString a1, a4, a9, a12, a13;
        QString key; // sort key of the name, for reading the next page
    };
    // Up to `limit` rows whose names match `pattern`, in name order, starting
    // after the row `after` when it is set. Runs on the caller's connection:
    // the grid keeps one for the whole run.
    bool listPage(const QSqlDatabase &db, const NamePattern &pattern, const ListRow *after, int limit,
        QList<ListRow> *rows, QString *error) const;

private:
    // One write: a connection of its own, one IMMEDIATE transaction around
    // `work`, which prepares and runs its statements on the query it is given.
    bool write(const std::function<bool(QSqlQuery &)> &work, QString *error) const;

    QString m_filePath;
    int m_readWaitMs;
    int m_writeWaitMs;
};
