#pragma once

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlDriver>

#include <atomic>
#include <memory>

class PostgresDeadline;
class PostgresWatch;
class QSqlQuery;

// The register of several desks, on a PostgreSQL server, through Qt's QPSQL
// driver (libpq). The server is named in libpq's own terms: a connection URI
// (postgresql://zuna@servidor/zuna) or a service name (service=zuna), the
// password in ~/.pgpass or the service file. Each thread keeps a connection
// of its own for the whole run. A change made at one desk is announced to
// the others (LISTEN/NOTIFY). A server that goes away is said so and
// reconnected to when it comes back; meanwhile every operation fails with a
// message saying the server is out of reach.
//
// The window's register (Patience::Window) never lets its thread wait long
// on the server: each operation there has the server's own limits (a lock
// waited for, a statement run) and the program's limit on the whole, after
// which the connection is given up and the server taken as out of reach. A
// thread of its own (PostgresWatch) says when it answers again. A save whose
// answer was lost on the way may have been stored: its transaction is asked
// about at the next save, so that saving again never stores it twice.
class PostgresRegister : public Register
{
    Q_OBJECT

public:
    // On the window's thread: how long a row another desk holds is waited
    // for, how long the server may run a statement, and how long the program
    // waits for an operation's answers before it gives the connection up.
    static constexpr int WindowLockMs = 500;
    static constexpr int WindowStatementMs = 1000;
    static constexpr int WindowAnswerMs = 1500;
    // The same for a list page read on the window's thread (the page's own
    // budget is far shorter: this is for a server that answers nothing).
    static constexpr int WindowReadAnswerMs = 500;

    PostgresRegister(QString server, Patience patience = Patience::Background, QObject *parent = nullptr);
    ~PostgresRegister() override;

    // Connects the calling thread and listens for the other desks' changes.
    bool connectNow(QString *error);
    // The server as messages show it: never with a password.
    static QString shown(const QString &server);
    QString where() const override;
    std::unique_ptr<Reader> reader(bool patient = false) const override;
    bool answersWithin(int ms) const override { return m_windowRoundTripMs.load() <= ms; }
    void servesWindow() override;

    bool count(qint64 *result, QString *error) override;
    bool findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error) override;
    bool insert(const ContactRecord &record, qint64 *newCode, QString *error) override;
    bool update(const ContactRecord &record, const ContactRecord *asLoaded, Saved *result, QString *error) override;
    bool remove(qint64 code, QString *error) override;
    bool forEachContact(const std::function<bool(const ContactRecord &)> &visit, QString *error) override;
    bool insertAll(const QList<ContactRecord> &records, const QList<Rewrite> &rewrites,
        const std::function<void(qint64)> &progress, QString *error) override;
    bool contactsByPhoneKeys(const QStringList &keys, QHash<QString, ContactRecord> *found, QString *error) override;
    bool logCall(CallRecord *call, QString *error) override;
    bool listCalls(
        const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error) override;
    bool forEachCall(
        const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error) override;
    bool pruneCalls(const QDateTime &before, qint64 *removed, QString *error) override;
    bool loadAreaCode(QString *value, QString *error) override;
    bool storeAreaCode(const QString &value, QString *error) override;
    bool buildIndexes(QString *error) override;
    Health health() override;
    bool upgrade(QString *error) override;

protected:
    bool findByKeys(
        const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error) override;

private:
    // The call log's operations use the register's connections and limits.
    friend class PostgresCallLog;
    // So do a lost save's keeping and settling.
    friend class PostgresLostSave;

    // A save whose COMMIT got no answer: its transaction, and what it wrote.
    struct LostSave
    {
        qint64 txid = 0;
        qint64 code = 0;
        ContactRecord record;
        bool stored = false; // found committed
    };

    // The calling thread's connection, opened on first use (and again after
    // the server came back).
    QSqlDatabase connection(QString *error);
    // The program's limit for an operation on the calling thread (0: none).
    int answerMs() const;
    // The calling thread has the window's limits: the window's own, or one
    // that serves it.
    bool windowLimited() const;
    // A statement failed: when the server is out of reach, say so once and
    // drop the connection, so that the next use connects anew.
    bool fail(QString *error, const QString &what, const QSqlQuery &query, PostgresDeadline &limit);
    bool fail(
        QString *error, const QString &what, const QSqlError &e, const QSqlDriver *driver, PostgresDeadline &limit);
    // Rewrites the row, in a transaction whose outcome can be asked about.
    bool rewrite(QSqlDatabase db, PostgresDeadline &limit, const ContactRecord &record, const ContactRecord *asLoaded,
        Saved *result, QString *error);
    void closeOwnConnection();
    // The watch's answer, on the window's thread.
    void answered(bool answers, const QString &why);
    void listen(QSqlDatabase db);
    void notified(const QString &name, QSqlDriver::NotificationSource source, const QVariant &payload);

    QString m_server;
    const bool m_windowLimits;
    mutable QMutex m_mutex;
    QHash<Qt::HANDLE, QString> m_connections; // by thread
    // The server processes of the open connections, by thread: a notice
    // naming one of them tells of this desk's own change.
    QHash<Qt::HANDLE, int> m_backends;
    QSet<Qt::HANDLE> m_windowServants; // threads that do the window's work
    // Shared with the window's readers, which also see the server go.
    std::shared_ptr<std::atomic<bool>> m_reachable;
    std::unique_ptr<PostgresWatch> m_watch;
    std::optional<LostSave> m_lostSave; // the window's saves
    // The window's connection's bare round trip, timed when it is made.
    std::atomic<double> m_windowRoundTripMs { 0 };
};
