#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so that tests answer
// them without a real modal dialog.
class MessageBoxes
{
public:
    enum class Icon { None, Information, Question, Critical };
    // YesNoDefaultNo: for a question whose Yes cannot be undone.
    enum class Buttons { Ok, YesNo, YesNoDefaultNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    virtual Answer show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons) = 0;

    static MessageBoxes &instance();
    // Tests put their own in place; nullptr restores the real one.
    static void setInstance(MessageBoxes *replacement);

    // A notice or refusal: OK only, no icon.
    static void notice(QWidget *parent, const QString &title, const QString &text);
    // A question with Yes (the default) and No. True for Yes.
    static bool confirm(QWidget *parent, const QString &title, const QString &text);
    // A question whose Yes cannot be undone: No is the default. True for Yes.
    static bool confirmDefaultNo(QWidget *parent, const QString &title, const QString &text);
    // A failure report, OK only.
    static void error(QWidget *parent, const QString &title, const QString &text, Icon icon = Icon::Critical);

    // How many boxes wait for an answer right now. A modal box runs its own
    // event loop: what arrives meanwhile (a call) must not act on what the
    // box asks about.
    static int openCount();
    // Runs after each box closes, once its answer is given (nullptr: none).
    static void setAfterClose(std::function<void()> afterClose);

private:
    static Answer ask(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons);
};

// The real boxes, modal QMessageBox.
class ModalMessageBoxes : public MessageBoxes
{
public:
    Answer show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons) override;
};
