#pragma once

#include <QLabel>

// The caller-ID monitor on the main window: a display of the last number
// reported (navy, aqua bold text) and the operations the window uses to set it
// up and switch it on and off. Numbers are reported only while it is active.
class CallerIdControl : public QLabel
{
    Q_OBJECT

public:
    static inline const QString InitialText = QStringLiteral("0 (00) 0000-0000");

    explicit CallerIdControl(QWidget *parent = nullptr);

    void setAreaCode(const QString &areaCode) { m_areaCode = areaCode; }
    QString areaCode() const { return m_areaCode; }
    void setPluginPath(const QString &path) { m_pluginPath = path; }
    QString pluginPath() const { return m_pluginPath; }

    void activate();
    void deactivate();
    bool isActive() const { return m_active; }

    // Reports a decoded number: shown on the display and raised as the number
    // event, but only while the monitor is active.
    void reportNumber(const QString &number);

signals:
    void numberReceived(const QString &number);
    void textReceived(const QString &text);

private:
    QString m_areaCode;
    QString m_pluginPath;
    bool m_active = false;
};
