#include "gui/app/AppIcon.h"

namespace AppIcon {

QIcon icon()
{
    // Qt's SVG icon engine keeps one drawing per mode: the small one goes in
    // as a picture of its size, which the engine prefers at exactly that size.
    QIcon icon(QStringLiteral(":/images/telefone.svg"));
    icon.addPixmap(QIcon(QStringLiteral(":/images/telefone-16.svg")).pixmap(QSize(16, 16), 1.0));
    return icon;
}

} // namespace AppIcon
