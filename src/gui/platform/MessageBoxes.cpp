#include "gui/platform/MessageBoxes.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextStream>

namespace {
MessageBoxes *g_replacement = nullptr;
int g_open = 0;
std::function<void()> g_afterClose;

QMessageBox::Icon toQt(MessageBoxes::Icon icon)
{
    switch (icon) {
    case MessageBoxes::Icon::Information: return QMessageBox::Information;
    case MessageBoxes::Icon::Question: return QMessageBox::Question;
    case MessageBoxes::Icon::Critical: return QMessageBox::Critical;
    case MessageBoxes::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

MessageBoxes &MessageBoxes::instance()
{
    static ModalMessageBoxes real;
    return g_replacement ? *g_replacement : real;
}

void MessageBoxes::setInstance(MessageBoxes *replacement)
{
    g_replacement = replacement;
}

int MessageBoxes::openCount()
{
    return g_open;
}

void MessageBoxes::setAfterClose(std::function<void()> afterClose)
{
    g_afterClose = std::move(afterClose);
}

MessageBoxes::Answer MessageBoxes::ask(
    QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons)
{
    ++g_open;
    struct Closed
    {
        ~Closed()
        {
            --g_open;
            if (g_afterClose)
                g_afterClose();
        }
    } closed;
    return instance().show(parent, icon, title, text, buttons);
}

void MessageBoxes::notice(QWidget *parent, const QString &title, const QString &text)
{
    ask(parent, Icon::None, title, text, Buttons::Ok);
}

bool MessageBoxes::confirm(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, Icon::Question, title, text, Buttons::YesNo) == Answer::Yes;
}

bool MessageBoxes::confirmDefaultNo(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, Icon::Question, title, text, Buttons::YesNoDefaultNo) == Answer::Yes;
}

void MessageBoxes::error(QWidget *parent, const QString &title, const QString &text, Icon icon)
{
    ask(parent, icon, title, text, Buttons::Ok);
}

MessageBoxes::Answer ModalMessageBoxes::show(
    QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons)
{
    // Without a screen nobody can answer a box: say it on standard error and
    // take the safe answer, so that a run without a display never hangs.
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        QTextStream(stderr) << title << ": " << text << '\n';
        return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
    }
    QMessageBox box(toQt(icon), title, text, QMessageBox::NoButton, parent);
    if (buttons != Buttons::Ok) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}
