#pragma once

class QWidget;

// Bringing a window to the attendant's eyes without taking the keyboard.
class WindowAttention
{
public:
    // Restores `window` from its icon or from maximized and raises it,
    // without activating it: keys typed meanwhile keep going to the program
    // that has them. Its taskbar entry asks for attention. Under X11 a
    // window restored from its icon is shown again as a window that asks not
    // to be focused and takes no keyboard until the window manager has
    // placed it, since window managers activate a window restored from its
    // icon; under Wayland the compositor decides everything.
    static void bringUpWithoutFocus(QWidget *window);
};
