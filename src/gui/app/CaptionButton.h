#pragma once

#include <QPushButton>

// A push button whose caption keeps the blanks it was given at its end (for
// whatever reads text()) but is drawn without them, so that they do not push
// the words over the button's left border.
class CaptionButton : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
