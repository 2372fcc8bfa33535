#pragma once

#include "core/callerid/CallerIdSettings.h"
#include "core/callerid/LineSource.h"

#include <QHash>
#include <QLabel>

#include <functional>

// The caller-ID monitor on the main window: a display of the last number
// reported (navy, aqua bold text) and the operations the window uses to set it
// up and switch it on and off. The display is plain text: the number laid out
// from its digits comes first, the name the line sent after it in quotes,
// shortened to fit the display so that the number always shows whole. Behind it sits the line source its settings
// choose, plus a local socket for `zuna --call`; numbers are reported only
// while it is active.
class CallerIdControl : public QLabel
{
    Q_OBJECT

public:
    static inline const QString InitialText = QStringLiteral("0 (00) 0000-0000");

    explicit CallerIdControl(QWidget *parent = nullptr);
    ~CallerIdControl() override;

    // Where the settings file and the local socket live.
    void setDataDir(const QString &dataDir);

    void setAreaCode(const QString &areaCode);
    QString areaCode() const { return m_settings.a2DDDLocal; }
    void setPluginPath(const QString &path);
    QString pluginPath() const { return m_settings.a3RootPlugIn; }

    // A line for this run (zuna --line), in place of the one callerid.ini
    // names, which stays as it is.
    void setLineOverride(const QString &line) { m_lineOverride = line; }
    QString lineOverride() const { return m_lineOverride; }

    // How the line's sources ask the register whether it knows a number,
    // for digits that read two ways; taken up when the monitor is switched on.
    void setCallerLookup(LineSource::CallerLookup lookup) { m_callerLookup = std::move(lookup); }

    void activate();
    void deactivate();
    bool isActive() const { return m_active; }
    // Opens the configuration screen (modal).
    void configure();

    // Reports a decoded number: shown on the display, laid out, with the
    // caller's name when the line sent one ("(11)3333-4444 · “NOME”"), and
    // raised as the number event, but only while the monitor is active.
    void reportNumber(const QString &number, const QString &callerName = QString());
    // The last number or text reported as a whole; the display may shorten
    // the caller's name to fit.
    QString fullText() const { return m_shown; }
    // The name the line sent with the last number; empty when none came.
    QString lastCallerName() const { return m_lastCallerName; }
    void reportText(const QString &text);
    // Shows a caller beside the number, laid out, without reporting a call:
    // the name the register knows for a call reported already.
    void showCaller(const QString &laidOut, const QString &name);
    // Where the last number or text came from: the line source's name in
    // callerid.ini ("placa-de-som", "modem", ...) or "socket" for a number
    // handed over by a script or `zuna --call`; and which device, port,
    // server or file it was.
    QString callSource() const;
    QString callLine() const;

    // A word to the attendant on the display (e.g. why it was not switched
    // on); the next number or text replaces it.
    void showNotice(const QString &text);

signals:
    void numberReceived(const QString &number);
    void textReceived(const QString &text);
    // How the line sources fare, for a status line beside the display: the
    // first failing source's words in full, else the line's own state; empty
    // when the monitor is off.
    void statusChanged(const QString &status, bool healthy);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showFitted();
    void stopSources();
    void updateSettings(const std::function<void(CallerIdSettings &)> &change);
    void sourceStatus(const LineSource *source, const QString &status, bool healthy);

    QString m_dataDir;
    QString m_lineOverride;
    CallerIdSettings m_settings;
    LineSource *m_source = nullptr;
    LineSource *m_socket = nullptr;
    bool m_active = false;
    const LineSource *m_lastSource = nullptr; // of the last number or text
    QString m_shown = InitialText; // the last number or text reported
    QString m_shownNumber; // its number, laid out, when a name goes with it
    QString m_lastCallerName;
    LineSource::CallerLookup m_callerLookup;
    // Each line's habit, kept while the monitor is off: by source kind, and
    // "socket" for the local socket.
    QHash<QString, LineSource::Habit> m_habits;
    QString habitKey(const LineSource *source) const;
    struct State
    {
        QString text;
        bool healthy = true;
    };
    QHash<const LineSource *, State> m_states;
};
