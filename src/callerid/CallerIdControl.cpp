#include "callerid/CallerIdControl.h"

CallerIdControl::CallerIdControl(QWidget *parent)
    : QLabel(InitialText, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents); // the attendant cannot click into it
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 128));    // navy
    pal.setColor(QPalette::WindowText, QColor(0, 255, 255)); // aqua
    setPalette(pal);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    f.setBold(true);
    setFont(f);
}

void CallerIdControl::activate()
{
    m_active = true;
}

void CallerIdControl::deactivate()
{
    m_active = false;
}

void CallerIdControl::reportNumber(const QString &number)
{
    if (!m_active)
        return;
    setText(number);
    emit numberReceived(number);
}
