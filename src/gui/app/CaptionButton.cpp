#include "gui/app/CaptionButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

void CaptionButton::paintEvent(QPaintEvent *)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    qsizetype end = option.text.size();
    while (end > 0 && option.text.at(end - 1).isSpace())
        --end;
    option.text.truncate(end);
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_PushButton, option);
}
