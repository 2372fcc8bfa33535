#include "gui/app/StartupWindow.h"

#include <QLineEdit>

StartupWindow::StartupWindow(QWidget *parent)
    : QWidget(parent)
    , m_text2(new QLineEdit(this))
{
    setObjectName(QStringLiteral("VERI"));
    setWindowTitle(QString());
    resize(104, 56);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setGeometry(8, 8, 89, 19);
}
