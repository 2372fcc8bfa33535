#include "core/contacts/PostgresRegister.h"

#include "core/contacts/PostgresCallLog.h"
#include "core/contacts/PostgresDeadline.h"
#include "core/contacts/PostgresLostSave.h"
#include "core/contacts/PostgresPrepared.h"
#include "core/contacts/PostgresQueries.h"
#include "core/contacts/PostgresReader.h"
#include "core/contacts/PostgresSchema.h"
#include "core/contacts/PostgresStatement.h"
#include "core/contacts/PostgresWatch.h"
#include "core/contacts/SqlRows.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace {

const QString &Columns = PostgresQueries::Columns;
// The types of a contact's nine fields, as the writes take them.
const QString ContactTypes = QStringLiteral("text, text, text, text, text, text, text, text, text");
const QString Channel = QStringLiteral("zuna_cadastro");

} // namespace

PostgresRegister::PostgresRegister(QString server, Patience patience, QObject *parent)
    : Register(parent)
    , m_server(std::move(server))
    , m_windowLimits(patience == Patience::Window)
    , m_reachable(std::make_shared<std::atomic<bool>>(true))
{
}

PostgresRegister::~PostgresRegister()
{
    m_watch.reset();
    // Every thread that used the register is done with it by now.
    QMutexLocker lock(&m_mutex);
    const QList<QString> names = m_connections.values();
    m_connections.clear();
    m_backends.clear();
    lock.unlock();
    for (const QString &name : names) {
        PostgresStatement::forget(name);
        QSqlDatabase::database(name, false).close(); // the handle gone before it is removed
        QSqlDatabase::removeDatabase(name);
    }
}

void PostgresRegister::answered(bool answers, const QString &why)
{
    if (answers == m_reachable->load())
        return;
    if (!answers) {
        m_reachable->store(false);
        closeOwnConnection();
        emit reachabilityChanged(false, why);
        return;
    }
    // Back: the window's connection is made anew, now that the server
    // answers (connection() does not try while it is out of reach).
    closeOwnConnection();
    m_reachable->store(true);
    QString error;
    if (!connection(&error).isOpen()) {
        m_reachable->store(false);
        return;
    }
    emit reachabilityChanged(true, QString());
}

QString PostgresRegister::where() const
{
    return PostgresConnection::shown(m_server);
}

QString PostgresRegister::shown(const QString &server)
{
    return PostgresConnection::shown(server);
}

int PostgresRegister::answerMs() const
{
    return windowLimited() ? WindowAnswerMs : 0;
}

bool PostgresRegister::windowLimited() const
{
    if (!m_windowLimits)
        return false;
    if (QThread::currentThread() == thread())
        return true;
    QMutexLocker lock(&m_mutex);
    return m_windowServants.contains(QThread::currentThreadId());
}

void PostgresRegister::servesWindow()
{
    {
        QMutexLocker lock(&m_mutex);
        m_windowServants.insert(QThread::currentThreadId());
    }
    connection(nullptr); // a failure is met again, and said, by the first errand
}

void PostgresRegister::closeOwnConnection()
{
    QMutexLocker lock(&m_mutex);
    const QString name = m_connections.value(QThread::currentThreadId());
    m_backends.remove(QThread::currentThreadId());
    PostgresStatement::forget(name);
    QSqlDatabase::database(name, false).close(); // connect anew at the next use
}

QSqlDatabase PostgresRegister::connection(QString *error)
{
    QMutexLocker lock(&m_mutex);
    QString name = m_connections.value(QThread::currentThreadId());
    if (name.isEmpty()) {
        name = PostgresConnection::newName();
        m_connections.insert(QThread::currentThreadId(), name);
    }
    lock.unlock();
    const bool windowThread = windowLimited();
    // While the server is out of reach the window neither waits on a
    // connection attempt (a hung host keeps one for seconds) nor on one it
    // has: the watch says when the server answers again.
    if (windowThread && m_watch && !m_reachable->load()) {
        PostgresConnection::failure(error, PostgresConnection::Unreachable, m_server, {});
        return QSqlDatabase();
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (db.isOpen())
        return db;
    QString why;
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!PostgresConnection::configure(db, m_server, &why)) {
            PostgresConnection::failure(error, PostgresConnection::Unreachable, m_server, why);
            return db;
        }
    }
    if (!db.open()) {
        PostgresConnection::failure(
            &why, PostgresConnection::connectFailureText(m_server), m_server, db.lastError().text());
        if (error)
            *error = why;
        if (m_reachable->exchange(false))
            emit reachabilityChanged(false, why);
        return db;
    }
    {
        QMutexLocker backends(&m_mutex);
        m_backends.insert(QThread::currentThreadId(), PostgresConnection::backendPid(db));
    }
    if (QThread::currentThread() == thread())
        listen(db);
    if (windowThread) {
        // Two bare round trips, the shorter kept: one answer late on a busy
        // machine does not make a server next door look far away.
        QElapsedTimer roundTrip;
        roundTrip.start();
        QSqlQuery(db).exec(QStringLiteral("SET statement_timeout = %1; SET lock_timeout = %2")
                               .arg(WindowStatementMs)
                               .arg(WindowLockMs));
        const double shortest = roundTrip.nsecsElapsed() / 1e6;
        roundTrip.restart();
        QSqlQuery(db).exec(QStringLiteral("SELECT 1"));
        if (QThread::currentThread() == thread())
            m_windowRoundTripMs = std::min(shortest, roundTrip.nsecsElapsed() / 1e6);
        if (!m_watch && QThread::currentThread() == thread())
            m_watch = std::make_unique<PostgresWatch>(
                m_server, this, [this](bool answers, const QString &why) { answered(answers, why); });
    }
    if (!m_reachable->exchange(true))
        emit reachabilityChanged(true, QString());
    return db;
}

void PostgresRegister::listen(QSqlDatabase db)
{
    QSqlDriver *driver = db.driver();
    if (driver->subscribedToNotifications().contains(Channel))
        return;
    driver->subscribeToNotification(Channel);
    connect(driver, &QSqlDriver::notification, this, &PostgresRegister::notified, Qt::UniqueConnection);
}

void PostgresRegister::notified(const QString &, QSqlDriver::NotificationSource source, const QVariant &payload)
{
    // The listening connection's own changes come as the driver's own; the
    // other connections' (a save on the errand's thread) by the server
    // process the notice names. A notice that names none (the trigger of an
    // earlier version) may be any desk's.
    if (source != QSqlDriver::OtherSource)
        return;
    bool named = false;
    const int writer = payload.toString().toInt(&named);
    {
        QMutexLocker lock(&m_mutex);
        if (named && writer != 0 && std::find(m_backends.cbegin(), m_backends.cend(), writer) != m_backends.cend())
            return;
    }
    emit changedElsewhere();
}

bool PostgresRegister::connectNow(QString *error)
{
    return connection(error).isOpen();
}

bool PostgresRegister::fail(QString *error, const QString &what, const QSqlQuery &query, PostgresDeadline &limit)
{
    return fail(error, what, query.lastError(), query.driver(), limit);
}

bool PostgresRegister::fail(
    QString *error, const QString &what, const QSqlError &e, const QSqlDriver *driver, PostgresDeadline &limit)
{
    using Problem = PostgresConnection::Problem;
    const Problem problem = PostgresConnection::problemOf(e, driver, limit.passed());
    const QString detail = problem == Problem::NoAnswer
        ? QStringLiteral("o servidor não respondeu em %1 ms").arg(WindowAnswerMs)
        : e.text();
    limit.end();
    if (problem == Problem::Lost || problem == Problem::NoAnswer) {
        QString why;
        PostgresConnection::failure(&why, PostgresConnection::Unreachable, m_server, detail);
        if (error)
            *error = why;
        closeOwnConnection();
        if (m_reachable->exchange(false))
            emit reachabilityChanged(false, why);
        return false;
    }
    return PostgresConnection::failure(error, PostgresConnection::textFor(problem, what), m_server, detail);
}

bool PostgresRegister::upgrade(QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('cada') IS NOT NULL, to_regclass('chamadas') IS NOT NULL, "
                                   "to_regclass('cada_contagem_parte') IS NOT NULL, %1")
                        .arg(PostgresSchema::FunctionsUpToDate))
        || !query.next())
        return fail(error, QStringLiteral("Erro ao acessar o servidor do cadastro."), query, limit);
    if (!query.value(0).toBool())
        return PostgresConnection::failure(error,
            QStringLiteral("O banco de dados não tem o cadastro do Zuna. Para criá-lo, execute:\n"
                           "zuna --init --database \"%1\"")
                .arg(PostgresConnection::shown(m_server)),
            m_server, {});
    limit.end();
    QString detail;
    return PostgresSchema::complete(
               m_server, query.value(1).toBool(), query.value(2).toBool(), query.value(3).toBool(), &detail)
        || PostgresConnection::failure(error,
            QStringLiteral("Não foi possível preparar o cadastro do servidor para esta versão do Zuna."), m_server,
            detail);
}

bool PostgresRegister::logCall(CallRecord *call, QString *error)
{
    return PostgresCallLog(*this).log(call, error);
}

bool PostgresRegister::listCalls(
    const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error)
{
    return PostgresCallLog(*this).readPage(filter, beforeId, limit, rows, error);
}

bool PostgresRegister::forEachCall(
    const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error)
{
    return PostgresCallLog(*this).forEach(since, visit, error);
}

bool PostgresRegister::pruneCalls(const QDateTime &before, qint64 *removed, QString *error)
{
    return PostgresCallLog(*this).prune(before, removed, error);
}

bool PostgresRegister::buildIndexes(QString *)
{
    return true; // made with the schema, kept by the server
}

Register::Health PostgresRegister::health()
{
    QString error;
    QSqlDatabase db = connection(&error);
    if (!db.isOpen())
        return Health::Busy; // out of reach for now: it is tried again
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("SELECT n FROM cada_contagem")) && query.next())
        return Health::Ok;
    using Problem = PostgresConnection::Problem;
    const Problem problem = PostgresConnection::problemOf(query, limit.passed());
    fail(&error, QString(), query, limit);
    return problem == Problem::NoRegister || problem == Problem::Other ? Health::Gone : Health::Busy;
}

std::unique_ptr<Register::Reader> PostgresRegister::reader(bool patient) const
{
    // The window's readers share what the register knows of the server.
    if (!patient && m_windowLimits)
        return std::make_unique<PostgresReader>(m_server, m_reachable, WindowReadAnswerMs);
    return std::make_unique<PostgresReader>(m_server);
}

bool PostgresRegister::count(qint64 *result, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT n FROM cada_contagem")) || !query.next())
        return fail(error, QStringLiteral("Erro ao contar os contatos."), query, limit);
    *result = query.value(0).toLongLong();
    return true;
}

bool PostgresRegister::findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    PostgresStatement statement(db, QStringLiteral("SELECT %1 FROM cada WHERE cd = ?").arg(Columns));
    QSqlQuery &query = statement.query();
    query.addBindValue(code);
    if (!statement.exec())
        return fail(error, QStringLiteral("Erro ao ler o contato."), query, limit);
    result->reset();
    if (query.next())
        *result = SqlRows::readContact(query);
    return true;
}

bool PostgresRegister::findByKeys(
    const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    PostgresStatement statement(db,
        QStringLiteral("SELECT %1 FROM cada WHERE zuna_chave_fone(a4) IN (?, ?) "
                       "ORDER BY coalesce(a4 = ?, false) DESC, cd LIMIT 1")
            .arg(Columns));
    QSqlQuery &query = statement.query();
    query.addBindValue(keys.value(0));
    query.addBindValue(keys.value(1, keys.value(0)));
    query.addBindValue(laidOut);
    if (!statement.exec())
        return fail(error, QStringLiteral("Erro ao procurar o número no cadastro."), query, limit);
    if (query.next())
        *result = SqlRows::readContact(query);
    return true;
}

bool PostgresRegister::insert(const ContactRecord &record, qint64 *newCode, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    if (!PostgresLostSave(*this).settle(db, limit, error))
        return false;
    // The same contact again after a save whose answer was lost but which
    // was stored: that row is this contact, written with what is typed now.
    const std::optional<LostSave> lost = std::exchange(m_lostSave, std::nullopt);
    if (lost && lost->stored && lost->record.a1 == record.a1 && lost->record.a4 == record.a4) {
        ContactRecord again = record;
        again.cd = lost->code;
        Saved saved = Saved::Missing;
        if (!rewrite(db, limit, again, &lost->record, &saved, error)
            || (saved == Saved::ChangedElsewhere && !rewrite(db, limit, again, nullptr, &saved, error)))
            return false;
        if (saved == Saved::Updated) {
            *newCode = lost->code;
            return true;
        }
    }
    // In a transaction of its own, so that a COMMIT whose answer is lost can
    // be asked about by its transaction id. BEGIN goes with the INSERT, in
    // one round trip (the values written into the text, as one string of
    // statements binds none): the id is known before the COMMIT is sent.
    static const PostgresPrepared Insert(QStringLiteral("zuna_grava_novo"), ContactTypes,
        QStringLiteral("INSERT INTO cada (a1, a4, a9, a10, a11, a12, a13, a14, ob) "
                       "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) RETURNING cd, txid_current()"));
    LostSave save { 0, 0, record, false };
    QSqlQuery query(db);
    const bool inserted
        = Insert.exec(query, db, QStringLiteral("BEGIN"), PostgresQueries::contactLiterals(db, record)) && query.next();
    if (!inserted) {
        const QSqlError failed = query.lastError();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK")); // the transaction, when BEGIN took place
        return fail(error, QStringLiteral("Erro ao gravar o contato."), failed, db.driver(), limit);
    }
    save.code = query.value(0).toLongLong();
    save.txid = query.value(1).toLongLong();
    query.finish();
    if (!query.exec(QStringLiteral("COMMIT")))
        return PostgresLostSave(*this).failCommit(error, query.lastError(), db, limit, save);
    *newCode = save.code;
    return true;
}

bool PostgresRegister::update(const ContactRecord &record, const ContactRecord *asLoaded, Saved *result, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    if (!PostgresLostSave(*this).settle(db, limit, error))
        return false;
    // A save of this row whose answer was lost but which was stored: the row
    // holds what this desk wrote then, not what it loaded.
    const std::optional<LostSave> lost = std::exchange(m_lostSave, std::nullopt);
    if (lost && lost->stored && lost->code == record.cd && asLoaded)
        asLoaded = &lost->record;
    return rewrite(db, limit, record, asLoaded, result, error);
}

bool PostgresRegister::rewrite(QSqlDatabase db, PostgresDeadline &limit, const ContactRecord &record,
    const ContactRecord *asLoaded, Saved *result, QString *error)
{
    // As a new contact's INSERT: BEGIN goes with the UPDATE in one round
    // trip, the values written in, and the transaction's id comes back before
    // the COMMIT is sent. The same answer says whether the row is there at
    // all, for a row left as it was: changed at another desk, or deleted.
    // With what was loaded, only while the row holds it (NULL read as empty).
    static const QString Set = QStringLiteral("a1 = $1, a4 = $2, a9 = $3, a10 = $4, a11 = $5, a12 = $6, a13 = $7, "
                                              "a14 = $8, ob = $9");
    static const QString Answer = QStringLiteral(" RETURNING cd) SELECT (SELECT txid_current() FROM changed), "
                                                 "EXISTS (SELECT 1 FROM cada WHERE cd = $10)");
    static const PostgresPrepared Rewrite(QStringLiteral("zuna_grava"), ContactTypes + QStringLiteral(", bigint"),
        QStringLiteral("WITH changed AS (UPDATE cada SET %1 WHERE cd = $10").arg(Set) + Answer);
    static const PostgresPrepared RewriteHeld(QStringLiteral("zuna_grava_se"),
        ContactTypes + QStringLiteral(", bigint, ") + ContactTypes,
        QStringLiteral("WITH changed AS (UPDATE cada SET %1 WHERE cd = $10 AND coalesce(a1, '') = $11 "
                       "AND coalesce(a4, '') = $12 AND coalesce(a9, '') = $13 AND coalesce(a10, '') = $14 "
                       "AND coalesce(a11, '') = $15 AND coalesce(a12, '') = $16 AND coalesce(a13, '') = $17 "
                       "AND coalesce(a14, '') = $18 AND coalesce(ob, '') = $19")
                .arg(Set)
            + Answer);
    QStringList arguments = PostgresQueries::contactLiterals(db, record);
    arguments << QString::number(record.cd);
    if (asLoaded)
        arguments << PostgresQueries::contactLiterals(db, *asLoaded);
    QSqlQuery query(db);
    if (!(asLoaded ? RewriteHeld : Rewrite).exec(query, db, QStringLiteral("BEGIN"), arguments) || !query.next()) {
        const QSqlError failed = query.lastError();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK")); // the transaction, when BEGIN took place
        return fail(error, QStringLiteral("Erro ao gravar o contato."), failed, db.driver(), limit);
    }
    const bool updated = !query.value(0).isNull();
    const bool there = query.value(1).toBool();
    const LostSave save { query.value(0).toLongLong(), record.cd, record, false };
    query.finish();
    if (!query.exec(QStringLiteral("COMMIT")))
        return updated
            ? PostgresLostSave(*this).failCommit(error, query.lastError(), db, limit, save)
            : fail(error, QStringLiteral("Erro ao gravar o contato."), query.lastError(), db.driver(), limit);
    *result = updated ? Saved::Updated : there ? Saved::ChangedElsewhere : Saved::Missing;
    return true;
}

bool PostgresRegister::forEachContact(const std::function<bool(const ContactRecord &)> &visit, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM cada ORDER BY cd").arg(Columns)))
        return fail(error, QStringLiteral("Erro ao ler os contatos."), query, limit);
    while (query.next()) {
        if (!visit(SqlRows::readContact(query)))
            return false;
    }
    return true;
}

bool PostgresRegister::remove(qint64 code, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    // One round trip, also the first time on a connection (the PREPARE goes
    // with it). Deleting again a row already gone deletes nothing: a delete
    // whose answer was lost is simply asked again.
    static const PostgresPrepared Delete(
        QStringLiteral("zuna_apaga"), QStringLiteral("bigint"), QStringLiteral("DELETE FROM cada WHERE cd = $1"));
    QSqlQuery query(db);
    if (!Delete.exec(query, db, QString(), { QString::number(code) }))
        return fail(error, QStringLiteral("Erro ao apagar o contato."), query, limit);
    return true;
}

bool PostgresRegister::loadAreaCode(QString *value, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT a1 FROM a1 LIMIT 1")))
        return fail(error, QStringLiteral("Erro ao ler o DDD local."), query, limit);
    *value = query.next() ? query.value(0).toString() : QString(QLatin1String(""));
    return true;
}

bool PostgresRegister::storeAreaCode(const QString &value, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("UPDATE a1 SET a1 = ?"));
    query.addBindValue(value.isNull() ? QString(QLatin1String("")) : value);
    if (!query.exec())
        return fail(error, QStringLiteral("Erro ao gravar o DDD local."), query, limit);
    return true;
}

bool PostgresRegister::insertAll(const QList<ContactRecord> &records, const QList<Rewrite> &rewrites,
    const std::function<void(qint64)> &progress, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlError failed; // none when a contact changed since it was read: `error` says which
    return PostgresQueries::insertAll(db, records, rewrites, progress, &failed, error)
        || (failed.isValid() && fail(error, QStringLiteral("Erro ao gravar os contatos."), failed, db.driver(), limit));
}

bool PostgresRegister::contactsByPhoneKeys(const QStringList &keys, QHash<QString, ContactRecord> *out, QString *error)
{
    QSqlDatabase db = connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, answerMs());
    QSqlError failed;
    return PostgresQueries::contactsByPhoneKeys(db, keys, out, &failed)
        || fail(error, QStringLiteral("Erro ao procurar os telefones no cadastro."), failed, db.driver(), limit);
}
