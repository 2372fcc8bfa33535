#pragma once

#include <QObject>
#include <QSet>

#include <functional>

class QWidget;

// Shows the window every key press before the control that has the focus,
// once per press. A key the handler takes (it returns true) goes no further:
// a function key does its job and nothing else, wherever the focus is. Any
// other key goes on to that control.
class KeyPreview : public QObject
{
public:
    using Handler = std::function<bool(int key, Qt::KeyboardModifiers modifiers)>;

    // Watches the whole application; acts on presses meant for `window`.
    KeyPreview(QWidget *window, Handler handler);
    ~KeyPreview() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Handler m_handler;
    QSet<int> m_taken; // keys taken whose release has not come yet
};
