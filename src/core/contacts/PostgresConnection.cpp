#include "core/contacts/PostgresConnection.h"

#include "core/contacts/PostgresStatement.h"

#include <QAtomicInteger>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <libpq-fe.h>

namespace {

QAtomicInteger<quint64> g_counter;

struct Option
{
    QString key;
    QString value;
    bool operator==(const Option &) const = default;
};

// libpq's reading of the server's terms: the options given, by name. The
// parser's own message is dropped, for it may quote the text it met.
bool parsed(const QString &server, QList<Option> *options)
{
    char *message = nullptr;
    PQconninfoOption *all = PQconninfoParse(server.toUtf8().constData(), &message);
    if (message)
        PQfreemem(message);
    if (!all)
        return false;
    for (const PQconninfoOption *o = all; o->keyword; ++o) {
        if (o->val)
            options->append({ QString::fromUtf8(o->keyword), QString::fromUtf8(o->val) });
    }
    PQconninfoFree(all);
    return true;
}

bool isSecret(const QString &key)
{
    return key == QLatin1String("password") || key == QLatin1String("sslpassword");
}

// A value in libpq's key='value' form, so that spaces and quotes pass.
QString quoted(const QString &value)
{
    if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) && !value.contains(QLatin1Char('\''))
        && !value.contains(QLatin1Char('\\')))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString keyValueText(const QList<Option> &options)
{
    QStringList pairs;
    for (const Option &o : options)
        pairs << o.key + QLatin1Char('=') + quoted(o.value);
    return pairs.join(QLatin1Char(' '));
}

bool isUri(const QString &server)
{
    return server.startsWith(QLatin1String("postgresql://")) || server.startsWith(QLatin1String("postgres://"));
}

PGconn *nativeHandle(const QSqlDriver *driver)
{
    if (!driver)
        return nullptr;
    const QVariant handle = driver->handle();
    // Qt's driver names the type by libpq's struct (pg_conn*).
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}

} // namespace

PostgresConnection::PostgresConnection(const QString &server, int connectTimeoutS)
    : m_name(newName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    if (!configure(db, server, &m_error, connectTimeoutS))
        return;
    if (!db.open()) {
        m_error = db.lastError().text();
        return;
    }
    // The register's statements are short, but on a large register their
    // estimated cost passes the server's threshold for compiling them to
    // machine code, which it then does on every run: some 100 ms for a
    // search at five million contacts, over half a second for one whose
    // parts are many. Compiling never pays here. (A server too old to
    // compile refuses the setting; nothing is lost.)
    QSqlQuery(db).exec(QStringLiteral("SET jit = off"));
}

PostgresConnection::~PostgresConnection()
{
    PostgresStatement::forget(m_name);
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QString PostgresConnection::newName()
{
    return QStringLiteral("zuna-pg-%1").arg(++g_counter);
}

int PostgresConnection::backendPid(const QSqlDatabase &db)
{
    const PGconn *conn = db.isOpen() ? nativeHandle(db.driver()) : nullptr;
    return conn ? PQbackendPID(conn) : 0;
}

bool PostgresConnection::configure(QSqlDatabase &db, const QString &server, QString *error, int connectTimeoutS)
{
    QList<Option> options;
    if (!parsed(server, &options)) {
        *error = Unreadable;
        return false;
    }
    // Qt's driver quotes what its own fields hold; the other options pass
    // as key='value' pairs (Qt joins them with spaces in place of ';').
    QStringList others;
    bool timeoutGiven = false, nameGiven = false;
    for (const Option &o : std::as_const(options)) {
        bool isNumber = false;
        const int port = o.value.toInt(&isNumber);
        if (o.key == QLatin1String("host"))
            db.setHostName(o.value);
        else if (o.key == QLatin1String("dbname"))
            db.setDatabaseName(o.value);
        else if (o.key == QLatin1String("user"))
            db.setUserName(o.value);
        else if (o.key == QLatin1String("password"))
            db.setPassword(o.value);
        else if (o.key == QLatin1String("port") && isNumber)
            db.setPort(port);
        else
            others << o.key + QLatin1Char('=') + quoted(o.value);
        timeoutGiven = timeoutGiven || o.key == QLatin1String("connect_timeout");
        nameGiven = nameGiven || o.key == QLatin1String("application_name");
    }
    if (!timeoutGiven)
        others << QStringLiteral("connect_timeout=%1").arg(connectTimeoutS);
    if (!nameGiven)
        others << QStringLiteral("application_name=zuna");
    db.setConnectOptions(others.join(QLatin1Char(';')));
    return true;
}

QString PostgresConnection::shown(const QString &server)
{
    QList<Option> options;
    if (!parsed(server, &options))
        return QStringLiteral("(endereço ilegível)");
    QList<Option> kept = options;
    kept.removeIf([](const Option &o) { return isSecret(o.key); });
    if (kept.size() == options.size())
        return server.trimmed();
    // A URI stays a URI when the one without the password reads as the same
    // server; otherwise the options are written out one by one.
    if (isUri(server.trimmed())) {
        QUrl url(server.trimmed(), QUrl::StrictMode);
        if (url.isValid()) {
            url.setPassword({});
            QUrlQuery query(url);
            query.removeAllQueryItems(QStringLiteral("password"));
            query.removeAllQueryItems(QStringLiteral("sslpassword"));
            url.setQuery(query);
            const QString candidate = url.toString(QUrl::FullyEncoded);
            QList<Option> again;
            if (parsed(candidate, &again) && again == kept)
                return candidate;
        }
    }
    return keyValueText(kept);
}

bool PostgresConnection::hasPassword(const QString &server)
{
    QList<Option> options;
    return parsed(server, &options)
        && std::any_of(options.cbegin(), options.cend(), [](const Option &o) { return isSecret(o.key); });
}

QString PostgresConnection::connectFailureText(const QString &server)
{
    QList<Option> options;
    if (!parsed(server, &options))
        return Unreadable;
    const bool checksCertificate = std::any_of(options.cbegin(), options.cend(), [](const Option &o) {
        return o.key == QLatin1String("sslmode")
            && (o.value == QLatin1String("verify-ca") || o.value == QLatin1String("verify-full"));
    });
    if (!checksCertificate)
        return Unreachable;
    // TLS without any check: libpq checks against a root certificate file
    // whenever one exists, so it is pointed at none.
    const QByteArray conninfo = server.toUtf8();
    const char *keys[] = { "dbname", "sslmode", "sslrootcert", "connect_timeout", nullptr };
    const QByteArray timeout = QByteArray::number(ConnectTimeoutS);
    const char *values[] = { conninfo.constData(), "require", "/dev/null/nenhum", timeout.constData(), nullptr };
    PGconn *unchecked = PQconnectdbParams(keys, values, 1);
    const bool through = unchecked && PQstatus(unchecked) == CONNECTION_OK;
    PQfinish(unchecked);
    return through ? CertificateRefused : Unreachable;
}

bool PostgresConnection::failure(QString *error, const QString &what, const QString &server, const QString &detail)
{
    if (error) {
        *error = QStringLiteral("%1\nServidor: %2").arg(what, shown(server));
        if (!detail.trimmed().isEmpty())
            *error += QStringLiteral("\nDetalhe: %1").arg(detail.trimmed());
    }
    return false;
}

PostgresConnection::Problem PostgresConnection::problemOf(const QSqlQuery &query, bool gaveUp)
{
    return problemOf(query.lastError(), query.driver(), gaveUp);
}

PostgresConnection::Problem PostgresConnection::problemOf(const QSqlError &e, const QSqlDriver *driver, bool gaveUp)
{
    if (gaveUp)
        return Problem::NoAnswer;
    if (e.type() == QSqlError::NoError)
        return Problem::None;
    const QString state = e.nativeErrorCode();
    // SQLSTATE class 08 and the server's shutdowns: the connection is gone.
    if (state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01") || state == QLatin1String("57P02")
        || state == QLatin1String("57P03"))
        return Problem::Lost;
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01") || state == QLatin1String("40001"))
        return Problem::Busy;
    // The name patterns are escaped by the program and always valid: a
    // regular expression refused (2201B) is one the server stopped matching,
    // at the statement's time limit (it may report the cancellation so) or
    // past what its matcher takes.
    if (state == QLatin1String("57014") || state == QLatin1String("2201B"))
        return Problem::Slow;
    if (state == QLatin1String("42P01") || state == QLatin1String("42883"))
        return Problem::NoRegister;
    const PGconn *conn = nativeHandle(driver);
    if (e.type() == QSqlError::ConnectionError || !driver || !driver->isOpen()
        || (conn && PQstatus(conn) == CONNECTION_BAD))
        return Problem::Lost;
    return Problem::Other;
}

QString PostgresConnection::textFor(Problem problem, const QString &what)
{
    switch (problem) {
    case Problem::Lost:
    case Problem::NoAnswer: return Unreachable;
    case Problem::Busy: return HeldElsewhere;
    case Problem::Slow: return TooSlow;
    case Problem::NoRegister: return QStringLiteral("O banco de dados não tem o cadastro do Zuna.");
    default: break; // the file's own troubles do not reach a server
    }
    return what;
}
