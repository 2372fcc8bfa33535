#pragma once

#include <QWidget>

class QLineEdit;

// The small untitled start-up window VERI. A normal start never shows it; a
// second copy, or a start whose date format was refused, shows it until the
// attendant closes it.
class StartupWindow : public QWidget
{
    Q_OBJECT

public:
    explicit StartupWindow(QWidget *parent = nullptr);
    QLineEdit *text2() const { return m_text2; }

private:
    QLineEdit *m_text2;
};
