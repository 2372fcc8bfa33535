#include "gui/app/enterrrr.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace enterrrr {

void enterAsTab(QWidget *form, int &keyAscii)
{
    if (keyAscii != 13)
        return;
    QCoreApplication::postEvent(form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
    keyAscii = 0;
}

} // namespace enterrrr
