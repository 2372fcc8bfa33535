#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Shows the window every key press before the control that has the focus,
// once per press, and lets the key go on to that control.
class KeyPreview : public QObject
{
public:
    using Handler = std::function<void(int key, Qt::KeyboardModifiers modifiers)>;

    // Watches the whole application; acts on presses meant for `window`.
    KeyPreview(QWidget *window, Handler handler);
    ~KeyPreview() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Handler m_handler;
};
