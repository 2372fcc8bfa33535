#pragma once

#include "contacts/Register.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTimer>

#include <atomic>

class QSqlQuery;

// The register of several desks, on a PostgreSQL server, through Qt's QPSQL
// driver (libpq). The server is named in libpq's own terms: a connection URI
// (postgresql://zuna@servidor/zuna) or a service name (service=zuna), the
// password in ~/.pgpass or the service file. Each thread keeps a connection
// of its own for the whole run. A change made at one desk is announced to
// the others (LISTEN/NOTIFY). A server that goes away is said so and
// reconnected to when it comes back; meanwhile every operation fails with a
// message saying the server is out of reach.
class PostgresRegister : public Register
{
    Q_OBJECT

public:
    // How often the window's connection is checked, and a lost server tried.
    static constexpr int WatchMs = 2000;

    PostgresRegister(QString server, Patience patience = Patience::Background, QObject *parent = nullptr);
    ~PostgresRegister() override;

    // Connects the calling thread and listens for the other desks' changes.
    bool connectNow(QString *error);
    // Creates the register's tables, functions and indexes on an empty
    // database (zuna --init --database). A database that has them already is
    // left as it is: a failure, unless `alreadyThere` is given to be told.
    static bool createSchema(const QString &server, QString *error, bool *alreadyThere = nullptr);
    // The server as messages show it: never with a password.
    static QString shown(const QString &server);
    // Copies a desk's SQLite register and its area code into the server's
    // empty register, codes kept, in one transaction (zuna --copy-register).
    static bool copyFrom(Register &source, const QString &server, qint64 *copied, QString *error);

    QString where() const override;
    std::unique_ptr<Reader> reader(bool patient = false) const override;

    bool count(qint64 *result, QString *error) override;
    bool findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error) override;
    bool insert(const ContactRecord &record, qint64 *newCode, QString *error) override;
    bool update(const ContactRecord &record, const ContactRecord *asLoaded, Saved *result, QString *error) override;
    bool remove(qint64 code, QString *error) override;
    bool forEachContact(const std::function<bool(const ContactRecord &)> &visit, QString *error) override;
    bool insertAll(
        const QList<ContactRecord> &records, const std::function<void(qint64)> &progress, QString *error) override;
    bool knownPhoneKeys(const QStringList &keys, QSet<QString> *known, QString *error) override;
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

    // The list page statement, shared with the readers.
    static bool listPage(QSqlDatabase db, const QString &server, const NamePattern &pattern, const ListRow *after,
        int limit, QList<ListRow> *rows, QString *error);
    // The calls statement, shared with the readers.
    static bool readCalls(QSqlDatabase db, const QString &server, const CallFilter &filter, qint64 beforeId, int limit,
        QList<CallRecord> *rows, QString *error);

protected:
    bool findByKeys(
        const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error) override;

private:
    // The calling thread's connection, opened on first use (and again after
    // the server came back).
    QSqlDatabase connection(QString *error);
    // A statement failed: when the server is out of reach, say so once and
    // drop the connection, so that the next use connects anew.
    bool fail(QString *error, const QString &what, const QSqlQuery &query);
    static QSqlQuery callsQuery(QSqlDatabase db, const CallFilter &filter, qint64 beforeId, int limit);
    static void readCallRows(QSqlQuery &query, QList<CallRecord> *rows);
    void listen(QSqlDatabase db);
    void notified(const QString &name, QSqlDriver::NotificationSource source, const QVariant &payload);
    void watch();

    QString m_server;
    mutable QMutex m_mutex;
    QHash<Qt::HANDLE, QString> m_connections; // by thread
    std::atomic<bool> m_reachable { true };
    // On the window's thread: whether the server is still there, or back.
    QTimer m_watch;
    bool m_probing = false;
};
