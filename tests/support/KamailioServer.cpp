#include "KamailioServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

namespace {

// {port}, {modules} and {password} are filled in.
const char *const Configuration = R"(#!KAMAILIO
debug=2
log_stderror=yes
children=1
tcp_children=1
listen=udp:127.0.0.1:{port}
listen=tcp:127.0.0.1:{port}
auto_aliases=no
mpath="{modules}"
loadmodule "tm.so"
loadmodule "sl.so"
loadmodule "rr.so"
loadmodule "pv.so"
loadmodule "maxfwd.so"
loadmodule "usrloc.so"
loadmodule "registrar.so"
loadmodule "textops.so"
loadmodule "siputils.so"
loadmodule "xlog.so"
loadmodule "auth.so"
modparam("usrloc", "db_mode", 0)
modparam("registrar", "min_expires", 1)
request_route {
  xlog("L_INFO", "pedido $rm de $fu para $ru via $proto\n");
  if (!mf_process_maxfwd_header("10")) { sl_send_reply("483", "Too Many Hops"); exit; }
  if (is_method("REGISTER")) {
    if (is_present_hf("Authorization")) xlog("L_INFO", "REGISTER com credenciais\n");
    if (!pv_www_authenticate("$td", "{password}", "0")) { www_challenge("$td", "0"); exit; }
    if (!save("location")) sl_reply_error();
    xlog("L_INFO", "registrado $tu em $ct\n");
    exit;
  }
  if (is_method("CANCEL")) { if (t_check_trans()) t_relay(); exit; }
  if (has_totag()) {
    if (loose_route()) { t_relay(); exit; }
    if (is_method("ACK")) { if (t_check_trans()) t_relay(); exit; }
    sl_send_reply("404", "Not here");
    exit;
  }
  t_check_trans();
  if (is_method("INVITE")) record_route();
  if (!lookup("location")) { sl_send_reply("404", "Not Found"); exit; }
  t_on_reply("RESPOSTA");
  t_relay();
}
onreply_route[RESPOSTA] { xlog("L_INFO", "resposta $rs $rr de $si:$sp para $rm\n"); }
)";

} // namespace

std::unique_ptr<KamailioServer> KamailioServer::start(const QByteArray &password, QString *why)
{
    if (QStandardPaths::findExecutable(QStringLiteral("kamailio"), { QStringLiteral("/usr/sbin") }).isEmpty()) {
        *why = QStringLiteral("kamailio is not installed");
        return nullptr;
    }
    std::unique_ptr<KamailioServer> server(new KamailioServer);
    server->m_dir = std::make_unique<QTemporaryDir>();
    server->m_port = freeLocalPort();
    // Debian keeps the modules under the architecture's library folder.
    const QStringList modules
        = QDir(QStringLiteral("/usr/lib")).entryList({ QStringLiteral("*-linux-gnu*") }, QDir::Dirs);
    QString modulePath = QStringLiteral("/usr/lib/kamailio/modules/");
    for (const QString &arch : modules) {
        if (QFileInfo::exists(QStringLiteral("/usr/lib/%1/kamailio/modules/tm.so").arg(arch)))
            modulePath = QStringLiteral("/usr/lib/%1/kamailio/modules/").arg(arch);
    }
    QByteArray text(Configuration);
    text.replace("{port}", QByteArray::number(server->m_port))
        .replace("{modules}", modulePath.toUtf8())
        .replace("{password}", password);
    QFile file(server->m_dir->filePath(QStringLiteral("kamailio.cfg")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        *why = QStringLiteral("cannot write the configuration");
        return nullptr;
    }
    file.close();
    if (!server->run(why))
        return nullptr;
    return server;
}

KamailioServer::~KamailioServer()
{
    stop();
}

bool KamailioServer::run(QString *why)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(m_process.get(), &QProcess::readyRead, [this] { m_log += m_process->readAll(); });
    // In the foreground, logging to stderr, its runtime files in the
    // test's folder.
    m_process->start(QStandardPaths::findExecutable(QStringLiteral("kamailio"), { QStringLiteral("/usr/sbin") }),
        { QStringLiteral("-f"), m_dir->filePath(QStringLiteral("kamailio.cfg")), QStringLiteral("-DD"),
            QStringLiteral("-E"), QStringLiteral("-Y"), m_dir->path(), QStringLiteral("-P"),
            m_dir->filePath(QStringLiteral("kamailio.pid")) });
    if (!m_process->waitForStarted(5000)) {
        *why = QStringLiteral("kamailio did not start: %1").arg(m_process->errorString());
        return false;
    }
    // Ready when its TCP port answers.
    bool listening = false;
    (void)QTest::qWaitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            listening = probe.waitForConnected(100);
            return listening || m_process->state() == QProcess::NotRunning;
        },
        15000);
    if (listening)
        return true;
    m_process->waitForReadyRead(100);
    *why = QStringLiteral("kamailio did not listen on port %1: %2").arg(m_port).arg(log().right(2000));
    return false;
}

void KamailioServer::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(2000);
    }
    m_log += m_process->readAll();
}

bool KamailioServer::restart(QString *why)
{
    stop();
    return run(why);
}
