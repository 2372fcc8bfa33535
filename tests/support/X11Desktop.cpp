#include "X11Desktop.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

// Waits, the event loop running, until `ready` is true; false at the deadline.
template <class F> bool waitFor(F ready, int ms)
{
    return QTest::qWaitFor(ready, ms);
}

} // namespace

X11Desktop::~X11Desktop()
{
    for (QProcess *p : { &m_tray, &m_wm, &m_xvfb })
        stop(*p);
}

QString X11Desktop::missingTool(bool tray, const QStringList &others)
{
    QStringList tools { QStringLiteral("Xvfb"), QStringLiteral("openbox"), QStringLiteral("xdotool"),
        QStringLiteral("xprop"), QStringLiteral("xwininfo") };
    if (tray)
        tools << QStringLiteral("trayer");
    tools << others;
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return {};
}

bool X11Desktop::start(bool tray, QString *why)
{
    if (const QString tool = missingTool(tray); !tool.isEmpty()) {
        *why = QStringLiteral("%1 is not installed (scripts/install-deps.sh --tests)").arg(tool);
        return false;
    }
    // Xvfb picks a free display itself and says which on its output.
    m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_xvfb.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
            QStringLiteral("-noreset") });
    if (!m_xvfb.waitForStarted() || !waitFor([&] { return m_xvfb.canReadLine(); }, 60000)) {
        *why = QStringLiteral("Xvfb did not start");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb.readLine()).trimmed();
    int answered = -1;
    if (!waitFor([&] { return run(QStringLiteral("xwininfo"), { QStringLiteral("-root") }, &answered), answered == 0; },
            60000)) {
        *why = QStringLiteral("Xvfb does not answer on %1").arg(m_display);
        return false;
    }
    m_wm.setProcessEnvironment(environment());
    m_wm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_wm.start(QStringLiteral("openbox"), {});
    if (!waitFor(
            [&] {
                return property({}, "_NET_SUPPORTING_WM_CHECK").contains(QLatin1String("window id"))
                    || m_wm.state() == QProcess::NotRunning;
            },
            60000)
        || m_wm.state() != QProcess::Running) {
        *why = QStringLiteral("openbox did not start");
        return false;
    }
    if (!tray)
        return true;
    m_tray.setProcessEnvironment(environment());
    m_tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The panel reserves its strip of the screen, as a desktop's panel does,
    // so the window manager places no window over the icons.
    m_tray.start(QStringLiteral("trayer"),
        { QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"), QStringLiteral("right"),
            QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24"),
            QStringLiteral("--SetPartialStrut"), QStringLiteral("true") });
    // The notification area is there once a window owns its selection.
    if (!waitFor(
            [&] {
                return run(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") })
                           .contains(QLatin1String("(\"panel\" \"trayer\")"))
                    || m_tray.state() == QProcess::NotRunning;
            },
            60000)
        || m_tray.state() != QProcess::Running) {
        *why = QStringLiteral("trayer did not start");
        return false;
    }
    return true;
}

QProcessEnvironment X11Desktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString X11Desktop::run(const QString &program, const QStringList &arguments, int *status) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    if (!p.waitForFinished(30000))
        p.kill();
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString X11Desktop::windowNamed(const QString &title) const
{
    return xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title })
        .section(QLatin1Char('\n'), 0, 0);
}

QString X11Desktop::property(const QString &window, const char *name) const
{
    QStringList arguments
        = window.isEmpty() ? QStringList { QStringLiteral("-root") } : QStringList { QStringLiteral("-id"), window };
    arguments << QLatin1String(name);
    return run(QStringLiteral("xprop"), arguments);
}

QStringList X11Desktop::trayIcons() const
{
    // trayer's "panel" window holds one child per icon, a level deeper in
    // xwininfo's tree.
    const QStringList tree = run(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") })
                                 .split(QLatin1Char('\n'));
    QStringList icons;
    int panelIndent = -1;
    static const QRegularExpression line(QStringLiteral("^(\\s*)(0x[0-9a-f]+) \"([^\"]*)\""));
    for (const QString &row : tree) {
        const auto match = line.match(row);
        if (!match.hasMatch())
            continue;
        const int indent = int(match.capturedLength(1));
        if (match.captured(3) == QLatin1String("panel") && row.contains(QLatin1String("\"trayer\")"))) {
            panelIndent = indent;
        } else if (panelIndent >= 0 && indent > panelIndent) {
            icons << QString::number(match.captured(2).toULongLong(nullptr, 16));
        } else {
            panelIndent = -1;
        }
    }
    return icons;
}

void X11Desktop::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
