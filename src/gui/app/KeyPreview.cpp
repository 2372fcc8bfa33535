#include "gui/app/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

KeyPreview::KeyPreview(QWidget *window, Handler handler)
    : QObject(window)
    , m_window(window)
    , m_handler(std::move(handler))
{
    qApp->installEventFilter(this);
}

KeyPreview::~KeyPreview()
{
    qApp->removeEventFilter(this);
}

bool KeyPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease) {
        // The release of a key that was taken is taken too.
        auto *key = static_cast<QKeyEvent *>(event);
        return !key->isAutoRepeat() && m_taken.remove(key->key());
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    // A key that a control does not take travels on to its parents; only its
    // first stop, the focused control, counts.
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : m_window;
    if (watched == target && target->window() == m_window) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (m_handler(key->key(), key->modifiers())) {
            m_taken.insert(key->key());
            return true;
        }
    }
    return false;
}
