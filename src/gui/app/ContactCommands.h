#pragma once

#include "core/contacts/ContactRecord.h"
#include "gui/app/ContactSaving.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class ContactForm;
class QWidget;
class Register;
class RegisterErrand;
struct MainWindowControls;

// The window's commands on the contact in the form: save, delete, and load the
// contact picked in the grid. On a server across town whose answers would hold
// the window, the register's work goes to the errand's thread; a save or a
// delete keeps the form read-only until its answer comes.
class ContactCommands : public QObject
{
    Q_OBJECT

public:
    // What the window does around the commands.
    struct Window
    {
        // The list and the count, read again after a write.
        std::function<void()> refreshAfterWrite;
        // The form emptied and the list read again, after a delete.
        std::function<void()> clearForm;
    };

    // `title` heads the questions and notices it shows over `window`.
    ContactCommands(
        QWidget *window, const MainWindowControls &ui, ContactForm &form, const QString &title, Window hooks);

    // The open register and its errand; none before the window's register is
    // gone.
    void setRegister(Register *reg, RegisterErrand *errand);
    // A save or a delete is on its way: the form waits for its answer.
    bool busy() const { return m_saving; }

public slots:
    void save();
    void remove();
    // Loads the contact of the grid's current row.
    void pickRow();
    // Loads the contact whose code the code label holds.
    void loadPicked();

private:
    // A save on a server across town: its writes on the errand's thread.
    void saveInBackground(const ContactRecord &record, const std::optional<ContactRecord> &asLoaded);
    void setSaving(bool saving);
    // What the window does once a save is done, stored or not.
    void finishSave(ContactSaving::Outcome outcome, const ContactRecord &record, const QString &error);
    // True when the register would hold the window: its work goes to the errand.
    bool far() const;
    // A write that failed: the attendant is told and everything typed stays.
    void reportFailure(const QString &what, const QString &error);

    QWidget *m_window;
    const MainWindowControls &m_ui;
    ContactForm &m_form;
    QString m_title;
    Window m_hooks;
    Register *m_register = nullptr;
    RegisterErrand *m_errand = nullptr;
    bool m_saving = false;
};
