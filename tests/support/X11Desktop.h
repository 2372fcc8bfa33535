#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A desktop of the test's own: Xvfb on a free display, openbox managing its
// windows and, when asked, trayer as the panel's notification area. Programs
// are started on it, and its windows found and driven with xdotool as a
// person would with the mouse and the keyboard.
class X11Desktop
{
public:
    ~X11Desktop();

    // The tools a desktop needs, and the `others` a test runs on it, or the
    // first one missing.
    static QString missingTool(bool tray, const QStringList &others = {});
    // False, with the reason in `why`, when the desktop could not be had.
    bool start(bool tray, QString *why);

    // The environment a program on this desktop gets.
    QProcessEnvironment environment() const;
    // Runs a tool on the desktop; its standard output, trimmed.
    QString run(const QString &program, const QStringList &arguments, int *status = nullptr) const;
    QString xdotool(const QStringList &arguments) const { return run(QStringLiteral("xdotool"), arguments); }
    // The mapped windows of this title, or empty while there is none (a
    // search that meets a window going away fails: it is asked again).
    QString windowNamed(const QString &title) const;
    // A window's X property (of the root window for an empty `window`).
    QString property(const QString &window, const char *name) const;
    // The windows embedded in the notification area.
    QStringList trayIcons() const;

    static void stop(QProcess &process);

private:
    QTemporaryDir m_dir;
    QString m_display;
    QProcess m_xvfb;
    QProcess m_wm;
    QProcess m_tray;
};
