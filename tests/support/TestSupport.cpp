#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/app/DataInit.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdControl.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

DataFolderFixture::DataFolderFixture()
{
    QStringList report;
    QString error;
    // A desk in area 11, as `zuna --init --ddd 11` leaves it.
    if (!DataInit::initDataFolder(m_dir.path(), QString(), &report, &error, QStringLiteral("11")))
        qFatal("cannot prepare a data folder: %s", qPrintable(error));
}

QString DataFolderFixture::file(const QString &name) const
{
    return QDir(m_dir.path()).filePath(name);
}

void DataFolderFixture::writeSite(const QByteArray &bytes) const
{
    QFile f(file(QStringLiteral("site.txt")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write site.txt");
}

qint64 DataFolderFixture::addContact(const ContactRecord &record) const
{
    qint64 code = 0;
    QString error;
    if (!SqliteRegister(file(QStringLiteral("cada.sqlite"))).insert(record, &code, &error))
        qFatal("cannot add a contact: %s", qPrintable(error));
    return code;
}

ContactRecord DataFolderFixture::contact(const QString &name, const QString &phone) const
{
    ContactRecord r;
    r.a1 = name;
    r.a4 = phone;
    r.a9 = QStringLiteral("Rua %1, 10").arg(name);
    r.a12 = QStringLiteral("São Paulo");
    r.a13 = QStringLiteral("SP");
    return r;
}

void DataFolderFixture::exec(const QString &fileName, const QString &sql) const
{
    SqlConnection conn(file(fileName));
    if (!conn.isOpen())
        qFatal("cannot open %s: %s", qPrintable(fileName), qPrintable(conn.errorText()));
    QSqlQuery query(conn.database());
    if (!query.exec(sql))
        qFatal("cannot run %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
}

QMap<QString, QByteArray> DataFolderFixture::snapshot() const
{
    QMap<QString, QByteArray> files;
    const QDir dir(m_dir.path());
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::ReadOnly);
        files.insert(name, f.readAll());
    }
    return files;
}

void RegisterFixture::addBackends()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

bool RegisterFixture::available(const QString &backend, QString *why)
{
    return backend != QLatin1String("postgresql") || PostgresServer::shared(why);
}

RegisterFixture::RegisterFixture(const QString &backend)
    : m_backend(backend)
    , m_data(std::make_unique<DataFolderFixture>())
{
    if (isPostgres()) {
        m_url = PostgresServer::shared(nullptr)->newDatabase();
        QSettings ini(m_data->file(DataFiles::RegisterSettings), QSettings::IniFormat);
        ini.setValue(Register::ServerKey, m_url);
    }
    m_register = openAnother();
    QString error;
    if (isPostgres() && !m_register->storeAreaCode(QStringLiteral("11"), &error))
        qFatal("cannot store the area code: %s", qPrintable(error));
}

RegisterFixture::~RegisterFixture() = default;

std::unique_ptr<Register> RegisterFixture::openAnother() const
{
    QString error;
    auto opened = Register::open(m_data->path(), m_url, Register::Patience::Background, &error);
    if (!opened)
        qFatal("cannot open the register: %s", qPrintable(error));
    return opened;
}

QStringList RegisterFixture::listedNames(const Register &reg, int pageSize, const NamePattern &pattern)
{
    const auto reader = reg.reader(true);
    QStringList names;
    QList<Register::ListRow> page;
    Register::ListRow last;
    bool first = true;
    do {
        QString error;
        if (!reader->listPage(pattern, first ? nullptr : &last, pageSize, &page, &error, {}))
            qFatal("%s", qPrintable(error));
        for (const auto &row : page)
            names << row.a1;
        if (!page.isEmpty())
            last = page.constLast();
        first = false;
    } while (page.size() == pageSize);
    return names;
}

qint64 RegisterFixture::counted(Register &reg)
{
    qint64 n = -1;
    QString error;
    if (!reg.count(&n, &error))
        qFatal("%s", qPrintable(error));
    return n;
}

qint64 RegisterFixture::add(const ContactRecord &record) const
{
    qint64 code = 0;
    QString error;
    if (!m_register->insert(record, &code, &error))
        qFatal("cannot add a contact: %s", qPrintable(error));
    return code;
}

void RegisterFixture::exec(const QString &sql) const
{
    if (isPostgres())
        PostgresServer::shared(nullptr)->exec(m_url, sql);
    else
        m_data->exec(DataFiles::Contacts, sql);
}

WindowFixture::WindowFixture()
    : m_data(std::make_unique<DataFolderFixture>())
{
    // Pages are read on the window's thread however busy the test machine
    // is; tests of the background reading set the budget to 0.
    ContactListModel::setWindowBudgetMs(60000);
}

WindowFixture::~WindowFixture() = default;

bool WindowFixture::start()
{
    m_startup = std::make_unique<Startup>(m_data->path(), m_databaseUrl);
    if (m_startup->start() != Startup::Outcome::Running)
        return false;
    m_window = m_startup->mainWindow();
    m_window->setTerminator([this](int status) { endedWith << status; });
    return QTest::qWaitForWindowActive(m_window);
}

QWidget *WindowFixture::findControl(const char *name) const
{
    auto *w = m_window->findChild<QWidget *>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

bool WindowFixture::switchMonitorOn()
{
    CallerIdSettings settings = CallerIdSettings::load(m_data->path());
    settings.source = CallerIdSettings::Source::None;
    if (!settings.save(m_data->path()))
        return false;
    m_window->activateCallerId();
    return m_window->callerId()->isActive();
}

int WindowFixture::callWithZunaCall(const QString &zunaBinary, const QString &number) const
{
    QProcess call;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    call.setProcessEnvironment(env);
    call.start(zunaBinary, { QStringLiteral("--data-dir"), m_data->path(), QStringLiteral("--call"), number });
    // The running window answers while the other program waits.
    if (!QTest::qWaitFor([&] { return call.state() == QProcess::NotRunning; }, 10000))
        return -1;
    return call.exitCode();
}

QString WindowFixture::focusedName()
{
    QWidget *f = QApplication::focusWidget();
    // The tab control takes the focus on its tab strip, which has no design name.
    while (f && (f->objectName().isEmpty() || f->objectName().startsWith(QLatin1String("qt_"))))
        f = f->parentWidget();
    return f ? f->objectName() : QString();
}

quint16 freeLocalPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer tcp;
        if (!tcp.listen(QHostAddress::LocalHost, 0))
            continue;
        QUdpSocket udp;
        // Binding UDP on the same port as well: both transports must be free.
        if (udp.bind(QHostAddress::LocalHost, tcp.serverPort()))
            return tcp.serverPort();
    }
    return 0;
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    QProcess p;
    p.start(program, arguments);
    if (!input.isEmpty() && p.waitForStarted())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        p.kill();
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
        QString::fromUtf8(p.readAllStandardError()) };
}
