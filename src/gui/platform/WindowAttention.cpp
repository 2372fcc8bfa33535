#include "gui/platform/WindowAttention.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {
// How long a window restored from its icon is given to be mapped and placed
// again before it takes the keyboard when clicked and its taskbar entry asks
// for attention.
constexpr int KeyboardBackMs = 1000;
// Longer than Qt takes to believe that a window lost the focus.
constexpr int FocusSettleMs = 600;
} // namespace

void WindowAttention::bringUpWithoutFocus(QWidget *window)
{
    if (window->windowState() & Qt::WindowMinimized) {
        // An X11 window manager activates a window restored from its icon.
        // This one is shown again as a new window that takes no keyboard
        // until the window manager has placed it, and asks not to be focused.
        // A window on its icon has no keyboard, whatever Qt last heard.
        if (QApplication::activeWindow() == window)
            QApplication::setActiveWindow(nullptr);
        QWindow *handle = window->windowHandle();
        const bool wasWithoutActivating = window->testAttribute(Qt::WA_ShowWithoutActivating);
        window->setAttribute(Qt::WA_ShowWithoutActivating, true);
        if (handle) {
            handle->setProperty("_q_showWithoutActivating", true);
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
        }
        window->hide();
        window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, wasWithoutActivating);
        if (handle)
            handle->setProperty("_q_showWithoutActivating", wasWithoutActivating);
        QTimer::singleShot(KeyboardBackMs, window, [window] {
            if (QWindow *handle = window->windowHandle())
                handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
            if (!window->isActiveWindow())
                QApplication::alert(window);
        });
    } else if (window->windowState() & Qt::WindowMaximized) {
        window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    }
    window->raise();
    if (!window->isActiveWindow()) {
        QApplication::alert(window);
    } else {
        // Qt hears that a window lost the focus only a moment after it did
        // (it waits for the focus to come to another window of its own): a
        // call right after the attendant went to another program asks again
        // once that is settled.
        QTimer::singleShot(FocusSettleMs, window, [window] {
            if (!window->isActiveWindow())
                QApplication::alert(window);
        });
    }
}
