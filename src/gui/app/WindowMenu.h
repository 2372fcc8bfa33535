#pragma once

#include <QObject>

class MainWindow;
class QMenu;
class WindowCommands;

// The settings and windows the attendant reaches without the hidden
// configuration button: a menu on a right click on the caller-ID display
// and on the tray icon (Configurar a linha, Chamadas, Ajuda, Sobre o Zuna),
// and the same windows for `zuna --abrir` from the desktop entry's actions.
class WindowMenu : public QObject
{
    Q_OBJECT

public:
    // Gives `window` its menu and starts taking commands for it.
    static WindowMenu *attach(MainWindow *window);
    // The menu `window` was given; null when none.
    static WindowMenu *of(MainWindow *window);

    QMenu *menu() const { return m_menu; }
    // Opens the window a command names (WindowCommands::Calls, ::Setup).
    void open(const QString &command);
    void openAbout();

private:
    explicit WindowMenu(MainWindow *window);

    MainWindow *m_window;
    QMenu *m_menu;
    WindowCommands *m_commands;
};
