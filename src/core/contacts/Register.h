#pragma once

#include "core/contacts/CallFilter.h"
#include "core/contacts/CallRecord.h"
#include "core/contacts/ContactRecord.h"
#include "core/contacts/NamePattern.h"
#include "core/contacts/RegisterProblem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class PhoneNumber;

// The contact register and the desk's area code: the one owner of where they
// are kept and of every statement that reads or writes them. The window reads
// its fields, asks the register and writes its fields; no SQL lives anywhere
// else. Two backends stand behind it: an SQLite file in the data folder (one
// desk, the default) and a PostgreSQL server (several desks sharing one
// register), chosen by the data folder's registro.ini or --database.
//
// Every method is safe to call from any thread; each thread reads and writes
// through connections of its own. Errors come back as false with a Portuguese
// text naming what failed and where, the database's own words as a detail.
class Register : public QObject
{
    Q_OBJECT

public:
    // How long an operation waits for a register another program holds busy:
    // on the window's thread briefly, so that the window keeps answering;
    // off it, a few seconds.
    enum class Patience { Window, Background };
    // After a failure: is the register there and well, only busy for now (or
    // its server out of reach for now), or gone for good?
    enum class Health { Ok, Busy, Gone };
    enum class Saved { Updated, Missing, ChangedElsewhere };

    // One row of the contact list, as the grid shows it.
    struct ListRow
    {
        qint64 cd = 0;
        QString a1, a4, a9, a12, a13;
        QString key; // sort key of the name, for reading the next page
    };

    // How long a page may take: on the window's thread only a moment (a
    // page that needs more ends with `tooLong` set, for the background
    // reader to take up); off it, until `cancelled` says a newer request
    // came.
    struct Limits
    {
        int budgetMs = 0; // 0: no limit
        bool *tooLong = nullptr;
        // What a failed read met.
        RegisterProblem *problem = nullptr;
        std::function<bool()> cancelled;
    };

    // A connection of one thread for reading list pages: the grid keeps one
    // for the whole run, the background reader another. It does not wait for
    // a register another program holds busy: that ends a page as Busy.
    class Reader
    {
    public:
        virtual ~Reader() = default;
        virtual bool isOpen(QString *error) = 0;
        // Up to `limit` rows whose names match `pattern`, in name order,
        // after the row `after` when it is set.
        virtual bool listPage(const NamePattern &pattern, const ListRow *after, int limit, QList<ListRow> *rows,
            QString *error, const Limits &limits)
            = 0;
        // Up to `limit` calls that pass `filter`, newest first, older than
        // the call `beforeId` when it is not 0.
        virtual bool listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows,
            QString *error, const Limits &limits)
            = 0;
    };

    ~Register() override;

    // registro.ini's key naming the server.
    static const QString ServerKey;

    // The register the data folder names (registro.ini), or the server at
    // `databaseUrl` for this run when it is given. It is checked and, when an
    // earlier version made it, given what this version reads it through.
    static std::unique_ptr<Register> open(
        const QString &dataDir, const QString &databaseUrl, Patience patience, QString *error);
    // The server named by `databaseUrl`, or the data folder's own choice.
    static QString serverFor(const QString &dataDir, const QString &databaseUrl);

    // Where it is kept, for messages: a file, or a server and database.
    virtual QString where() const = 0;
    // A reader for the calling thread; `patient` for work off the window's
    // thread, which may wait for a busy register.
    virtual std::unique_ptr<Reader> reader(bool patient = false) const = 0;

    // Whether the register answers the window's thread within `ms`: a file
    // or a server next door does; a server across town takes longer for a
    // bare round trip, and the window asks it from the background instead.
    virtual bool answersWithin(int /*ms*/) const { return true; }

    // Makes the calling thread one that does the window's work in its
    // stead: it waits on the register no longer than the window's own. A
    // server's connection for it is made now.
    virtual void servesWindow() { }

    // The number of contacts.
    virtual bool count(qint64 *result, QString *error) = 0;
    virtual bool findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error) = 0;
    // The contact whose telephone is this number, however either was
    // written (compared by key). Several: the one stored exactly as the
    // number is laid out, then the oldest.
    bool findCaller(const PhoneNumber &number, std::optional<ContactRecord> *result, QString *error);
    // Stores a new contact; `newCode` receives the code it was given.
    virtual bool insert(const ContactRecord &record, qint64 *newCode, QString *error) = 0;
    // Rewrites contact record.cd. With `asLoaded`, only while it still holds
    // those values: another desk may have changed it since it was shown.
    virtual bool update(const ContactRecord &record, const ContactRecord *asLoaded, Saved *result, QString *error) = 0;
    virtual bool remove(qint64 code, QString *error) = 0;
    // Every contact in code order, as stored (NULL as a null string), until
    // `visit` says stop; false when the reading failed or was stopped.
    virtual bool forEachContact(const std::function<bool(const ContactRecord &)> &visit, QString *error) = 0;

    // A stored contact to be written anew, only while it still holds what
    // was read (another desk may have changed it since).
    struct Rewrite
    {
        ContactRecord record;
        ContactRecord asLoaded;
    };
    // Stores new contacts and rewrites stored ones in one transaction: all of
    // them or, on a failure or a contact changed since it was read, none.
    // Each new one gets a new code. `progress` is told how many are done.
    virtual bool insertAll(const QList<ContactRecord> &records, const QList<Rewrite> &rewrites,
        const std::function<void(qint64)> &progress, QString *error)
        = 0;
    // Of these telephone keys, those that a stored contact's telephone has,
    // each with that contact (the oldest, when several have it).
    virtual bool contactsByPhoneKeys(const QStringList &keys, QHash<QString, ContactRecord> *found, QString *error) = 0;

    // --- the call log
    // Keeps a call; `call->id` receives the id it was given.
    virtual bool logCall(CallRecord *call, QString *error) = 0;
    // Up to `limit` calls that pass `filter`, newest first, older than the
    // call `beforeId` when it is not 0.
    virtual bool listCalls(
        const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error)
        = 0;
    // Every call since `since` (all when invalid), oldest first, until
    // `visit` says stop.
    virtual bool forEachCall(
        const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error)
        = 0;
    // Removes the calls older than `before`, a slice at a time so that a desk
    // logging a call meanwhile waits only briefly. May take long: run it off
    // the window's thread.
    virtual bool pruneCalls(const QDateTime &before, qint64 *removed, QString *error) = 0;

    virtual bool loadAreaCode(QString *value, QString *error) = 0;
    virtual bool storeAreaCode(const QString &value, QString *error) = 0;

    // Creates the indexes that are missing and brings the rows of an earlier
    // register into them. May read every row: run it off the window's thread.
    virtual bool buildIndexes(QString *error) = 0;
    virtual Health health() = 0;
    // The failure of a rewrite whose contact `code` changed since it was read.
    static bool changedSinceRead(const QList<Rewrite> &rewrites, qint64 code, QString *error);

signals:
    // Another desk saved or deleted a contact.
    void changedElsewhere();
    // The server went out of reach, or came back.
    void reachabilityChanged(bool reachable, const QString &why);

protected:
    explicit Register(QObject *parent = nullptr);
    // Gives a register made by an earlier version what this one reads it
    // through. Quick: it changes only the schema.
    virtual bool upgrade(QString *error) = 0;
    // The contact stored under one of these telephone keys.
    virtual bool findByKeys(
        const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error)
        = 0;
};
