#include "PostgresServer.h"

#include "core/contacts/PostgresSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <cerrno>
#include <signal.h>

#include <unistd.h>

namespace {
constexpr int Port = 5432; // names the socket file: no TCP listener until serveTls()

bool asRoot()
{
    return geteuid() == 0;
}
} // namespace

PostgresServer *PostgresServer::shared(QString *why)
{
    static std::unique_ptr<PostgresServer> server;
    static QString failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        server = startNew(Durability::Throwaway, &failure);
    }
    if (!server && why)
        *why = failure;
    return server.get();
}

std::unique_ptr<PostgresServer> PostgresServer::startNew(Durability durability, QString *why)
{
    auto started = std::unique_ptr<PostgresServer>(new PostgresServer(durability));
    if (!started->init(why))
        return nullptr;
    return started;
}

PostgresServer::~PostgresServer()
{
    undoNow();
    if (m_port != 0) // a server that never got as far as starting has nothing to stop
        stop();
}

bool PostgresServer::run(const QString &program, const QStringList &arguments, QString *output) const
{
    QProcess p;
    if (m_dir)
        p.setWorkingDirectory(m_dir->path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = QDir(m_bin).filePath(program);
    // The server refuses to run as root: its tools run as the postgres user.
    if (asRoot() && program != QLatin1String("psql"))
        p.start(QStringLiteral("runuser"),
            QStringList { QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), path } + arguments);
    else
        p.start(path, arguments);
    const bool finished = p.waitForFinished(120000);
    const QString out = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = out;
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), qPrintable(out));
        return false;
    }
    return true;
}

void PostgresServer::stopAbandoned() const
{
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({ QStringLiteral("zuna-pg-*") }, QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile owner(temp.filePath(name + QStringLiteral("/owner.pid")));
        if (!owner.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = owner.readAll().trimmed().toLongLong();
        if (pid <= 0 || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue; // its program still runs
        if (QFile::exists(temp.filePath(name + QStringLiteral("/data/postmaster.pid"))))
            run(QStringLiteral("pg_ctl"),
                { QStringLiteral("-D"), temp.filePath(name + QStringLiteral("/data")), QStringLiteral("-m"),
                    QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop") });
        QDir(temp.filePath(name)).removeRecursively();
    }
}

bool PostgresServer::init(QString *why)
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    for (const QString &version : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed)) {
        if (QFileInfo(versions.filePath(version + QStringLiteral("/bin/initdb"))).isExecutable()) {
            m_bin = versions.filePath(version + QStringLiteral("/bin"));
            break;
        }
    }
    if (m_bin.isEmpty()) {
        *why = QStringLiteral("no PostgreSQL server installed (Debian package postgresql; "
                              "scripts/install-deps.sh installs it)");
        return false;
    }
    stopAbandoned();
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zuna-pg-XXXXXX"));
    m_socketDir = m_dir->path();
    // Whose server it is: a test program that dies without stopping it (a
    // fatal failure, a time-out) leaves it to the next one to stop.
    QFile owner(QDir(m_socketDir).filePath(QStringLiteral("owner.pid")));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(QByteArray::number(QCoreApplication::applicationPid()));
    owner.close();
    if (asRoot() && QProcess::execute(QStringLiteral("chown"), { QStringLiteral("postgres:"), m_socketDir }) != 0) {
        *why = QStringLiteral("cannot give %1 to the postgres user").arg(m_socketDir);
        return false;
    }
    QString output;
    if (!run(QStringLiteral("initdb"),
            { QStringLiteral("-D"), m_socketDir + QStringLiteral("/data"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                QStringLiteral("--no-locale"), QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                QStringLiteral("postgres") },
            &output)) {
        *why = QStringLiteral("initdb failed: %1").arg(output);
        return false;
    }
    m_port = Port;
    if (!start()) {
        *why = QStringLiteral("the test server did not start");
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    // Room for a hundred desks, each with a reader beside its register.
    QString options = QStringLiteral("-c listen_addresses='%1' -k %2 -p %3 -c max_connections=250")
                          .arg(m_tls ? QStringLiteral("localhost") : QString(), m_socketDir)
                          .arg(m_port);
    if (m_tls)
        options += QStringLiteral(" -c ssl=on -c ssl_cert_file=server.crt -c ssl_key_file=server.key");
    // Durability is of no use to a throwaway server: fsync off keeps tests quick.
    if (m_durability == Durability::Throwaway)
        options += QStringLiteral(" -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
    return run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), m_socketDir + QStringLiteral("/data"), QStringLiteral("-l"),
            m_socketDir + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("-o"), options,
            QStringLiteral("start") });
}

QString PostgresServer::socketFile() const
{
    return QStringLiteral("%1/.s.PGSQL.%2").arg(m_socketDir).arg(m_port);
}

bool PostgresServer::serveTls(const QString &certificateFile, const QString &keyFile, QString *why)
{
    if (!stop()) {
        *why = QStringLiteral("the server did not stop");
        return false;
    }
    // The server reads its certificate and key from its data folder, the key
    // readable by its own user alone.
    const QString data = m_socketDir + QStringLiteral("/data/");
    for (const auto &[from, to] : { std::pair { certificateFile, QStringLiteral("server.crt") },
             std::pair { keyFile, QStringLiteral("server.key") } }) {
        QFile::remove(data + to);
        if (!QFile::copy(from, data + to)
            || !QFile::setPermissions(data + to, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
            || (asRoot()
                && QProcess::execute(QStringLiteral("chown"), { QStringLiteral("postgres:"), data + to }) != 0)) {
            *why = QStringLiteral("cannot give %1 to the server").arg(from);
            return false;
        }
    }
    // Over TCP only with TLS: a plain connection is refused.
    QFile hba(data + QStringLiteral("pg_hba.conf"));
    if (!hba.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read pg_hba.conf");
        return false;
    }
    QString rules = QString::fromUtf8(hba.readAll());
    hba.close();
    rules.replace(
        QRegularExpression(QStringLiteral("^host "), QRegularExpression::MultilineOption), QStringLiteral("hostssl "));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(rules.toUtf8()) < 0) {
        *why = QStringLiteral("cannot write pg_hba.conf");
        return false;
    }
    hba.close();
    // A port no one listens on now.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost)) {
        *why = QStringLiteral("no free TCP port");
        return false;
    }
    m_port = probe.serverPort();
    probe.close();
    m_tls = true;
    if (!start()) {
        *why = QStringLiteral("the server did not start with TLS (see %1/server.log)").arg(m_socketDir);
        return false;
    }
    return true;
}

QString PostgresServer::adminUrl() const
{
    return QStringLiteral("postgresql:///postgres?host=%1&port=%2&user=postgres").arg(m_socketDir).arg(m_port);
}

QList<qint64> PostgresServer::processes() const
{
    QFile pidFile(m_socketDir + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    QList<qint64> found { postmaster };
    // A child's stat reads "pid (name) state ppid ...".
    static const QRegularExpression stat(QStringLiteral("\\) \\S+ (\\d+) "));
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const auto match = stat.match(QString::fromLatin1(f.readAll()));
        if (match.hasMatch() && match.captured(1).toLongLong() == postmaster)
            found << entry.toLongLong();
    }
    return found;
}

void PostgresServer::signalAll(int signal) const
{
    for (const qint64 pid : processes())
        ::kill(pid_t(pid), signal);
}

void PostgresServer::undoLater(int atMostMs, std::function<void()> undo)
{
    undoNow();
    std::lock_guard lock(m_undoMutex);
    m_undoDue = false;
    m_undo = std::move(undo);
    m_undoThread = std::thread([this, atMostMs] {
        std::unique_lock lock(m_undoMutex);
        m_undoWake.wait_for(lock, std::chrono::milliseconds(atMostMs), [this] { return m_undoDue; });
        if (m_undo)
            std::exchange(m_undo, {})();
    });
}

void PostgresServer::undoNow()
{
    {
        std::lock_guard lock(m_undoMutex);
        m_undoDue = true;
    }
    m_undoWake.notify_all();
    if (m_undoThread.joinable())
        m_undoThread.join();
}

bool PostgresServer::suspend(int atMostMs)
{
    if (processes().size() < 2)
        return false;
    signalAll(SIGSTOP);
    undoLater(atMostMs, [this] { signalAll(SIGCONT); });
    return true;
}

bool PostgresServer::crash()
{
    const QList<qint64> pids = processes();
    if (pids.isEmpty())
        return false;
    for (const qint64 pid : pids)
        ::kill(pid_t(pid), SIGKILL);
    // Gone once the kernel has reaped them (a zombie keeps its pid a moment).
    return QTest::qWaitFor([&] { return ::kill(pid_t(pids.first()), 0) != 0; }, 10000);
}

void PostgresServer::resume()
{
    undoNow();
}

void PostgresServer::holdCommits(const QString &url, int atMostMs)
{
    const QString database = QUrl(url).path().mid(1);
    exec(adminUrl(), QStringLiteral("ALTER DATABASE %1 SET synchronous_commit = on").arg(database));
    exec(adminUrl(), QStringLiteral("ALTER SYSTEM SET synchronous_standby_names = 'ninguem'"));
    exec(adminUrl(), QStringLiteral("SELECT pg_reload_conf()"));
    undoLater(atMostMs, [this] {
        exec(adminUrl(), QStringLiteral("ALTER SYSTEM RESET synchronous_standby_names"));
        exec(adminUrl(), QStringLiteral("SELECT pg_reload_conf()"));
    });
}

void PostgresServer::releaseCommits()
{
    undoNow();
}

bool PostgresServer::stop()
{
    return run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), m_socketDir + QStringLiteral("/data"), QStringLiteral("-m"), QStringLiteral("fast"),
            QStringLiteral("-w"), QStringLiteral("stop") });
}

QString PostgresServer::newDatabase(bool withRegister)
{
    const QString name = QStringLiteral("zuna%1").arg(++m_databases);
    const QString url
        = QStringLiteral("postgresql:///%1?host=%2&port=%3&user=postgres").arg(name, m_socketDir).arg(m_port);
    exec(QStringLiteral("postgresql:///postgres?host=%1&port=%2&user=postgres").arg(m_socketDir).arg(m_port),
        QStringLiteral("CREATE DATABASE %1").arg(name));
    QString error;
    if (withRegister && !PostgresSchema::create(url, &error))
        qFatal("cannot create the register: %s", qPrintable(error));
    return url;
}

void PostgresServer::exec(const QString &url, const QString &sql) const
{
    QString output;
    if (!run(QStringLiteral("psql"),
            { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-d"), url, QStringLiteral("-c"), sql },
            &output))
        qFatal("psql failed on %s: %s", qPrintable(sql), qPrintable(output));
}

QString PostgresServer::value(const QString &url, const QString &sql) const
{
    QString output;
    if (!run(QStringLiteral("psql"),
            { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), url,
                QStringLiteral("-c"), sql },
            &output))
        qFatal("psql failed on %s: %s", qPrintable(sql), qPrintable(output));
    return output.trimmed();
}
