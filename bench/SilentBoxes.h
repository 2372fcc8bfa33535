#pragma once

#include "gui/platform/MessageBoxes.h"

// The program's notices and questions answered without a window (questions
// with Yes), the last one kept for telling why a step failed.
class SilentBoxes : public MessageBoxes
{
public:
    Answer show(QWidget *, Icon, const QString &, const QString &text, Buttons buttons) override
    {
        last = text;
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Yes;
    }
    QString last;
};
