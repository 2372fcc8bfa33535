#pragma once

#include "core/contacts/Register.h"
#include "core/contacts/RegisterProblem.h"

#include <QSqlDatabase>
#include <QSqlQuery>

// The register of one desk: table CADA in an SQLite file of the data folder,
// the area code in a file of its own. Every operation opens its own short
// connection and closes it at its end; every write is one transaction. All
// values are bound, never pasted into SQL. Beside CADA, tables kept by
// triggers hold what the register is read through (telephone keys, the
// count, a trigram index of the names), so the sqlite3 tool may change rows.
class SqlConnection;

class SqliteRegister : public Register
{
    Q_OBJECT

public:
    static constexpr int WindowReadWaitMs = 250;
    static constexpr int WindowWriteWaitMs = 2000;
    // How a call's local time is kept in CHAMADAS.QUANDO.
    static inline const QString CallTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

    explicit SqliteRegister(QString filePath, QString areaCodePath = {}, Patience patience = Patience::Background,
        QObject *parent = nullptr);

    // A new register file with its table, companions and indexes; fails when
    // the file exists.
    static bool create(const QString &filePath, QString *error);
    // A new area-code file whose one row holds empty text.
    static bool createAreaCode(const QString &filePath, QString *error);

    QString where() const override;
    std::unique_ptr<Reader> reader(bool patient = false) const override;

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

    static bool listPage(const QSqlDatabase &db, const QString &filePath, const NamePattern &pattern,
        const ListRow *after, int limit, QList<ListRow> *rows, QString *error, RegisterProblem *problem = nullptr);
    // The trigrams of a part of a name or a call's text, each quoted, all
    // required: a query the trigram indexes answer without positions.
    static QString trigramQuery(const QString &part);
    // Why a connection to the register's file did not open, in words and as
    // a kind; false.
    static bool openFailure(
        QString *error, const QString &filePath, const SqlConnection &conn, RegisterProblem *problem = nullptr);
    // Why a statement failed, the same way; false.
    static bool queryFailure(
        QString *error, const QString &filePath, const QSqlQuery &query, RegisterProblem *problem = nullptr);

protected:
    bool findByKeys(
        const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error) override;

private:
    // One write: a connection of its own, one IMMEDIATE transaction around
    // `work`, which prepares and runs its statements on the query it is given.
    bool write(const std::function<bool(QSqlQuery &)> &work, QString *error) const;

    QString m_filePath;
    QString m_areaCodePath;
    int m_readWaitMs;
    int m_writeWaitMs;
};
