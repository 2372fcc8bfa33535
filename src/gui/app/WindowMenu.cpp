#include "gui/app/WindowMenu.h"

#include "core/app/WindowCommands.h"
#include "gui/app/AboutDialog.h"
#include "gui/app/CallNotifier.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QMenu>
#include <QSystemTrayIcon>

WindowMenu *WindowMenu::attach(MainWindow *window)
{
    return new WindowMenu(window);
}

WindowMenu *WindowMenu::of(MainWindow *window)
{
    return window->findChild<WindowMenu *>(QString(), Qt::FindDirectChildrenOnly);
}

WindowMenu::WindowMenu(MainWindow *window)
    : QObject(window)
    , m_window(window)
    , m_menu(new QMenu(window))
    , m_commands(new WindowCommands(window->dataDir(), this))
{
    m_menu->setObjectName(QStringLiteral("menuZuna"));
    const auto add = [this](const char *name, const QString &text, auto slot) {
        QAction *action = m_menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add("menuConfigurar", QStringLiteral("&Configurar a linha..."), [this] { open(WindowCommands::Setup); });
    add("menuChamadas", QStringLiteral("C&hamadas (F4)"), [this] { open(WindowCommands::Calls); });
    m_menu->addSeparator();
    add("menuAjuda", QStringLiteral("&Ajuda"), [this] { m_window->openHelp(); });
    add("menuSobre", QStringLiteral("&Sobre o Zuna"), [this] { openAbout(); });

    CallerIdControl *display = window->callerId();
    display->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(display, &QWidget::customContextMenuRequested, this,
        [this, display](const QPoint &at) { m_menu->popup(display->mapToGlobal(at)); });
    if (CallNotifier *notifier = window->notifier(); notifier && notifier->tray())
        notifier->tray()->setContextMenu(m_menu);
    connect(m_commands, &WindowCommands::received, this, &WindowMenu::open);
}

void WindowMenu::open(const QString &command)
{
    if (command == WindowCommands::Calls) {
        m_window->openCalls();
    } else if (command == WindowCommands::Setup) {
        m_window->openCallerIdSetup();
    }
}

void WindowMenu::openAbout()
{
    auto *about = new AboutDialog(
        m_window->dataDir(), m_window->contactRegister() ? m_window->contactRegister()->where() : QString(), m_window);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}
