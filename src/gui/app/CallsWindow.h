#pragma once

#include "core/contacts/CallRecord.h"

#include <QWidget>

class CallListModel;
class CallLog;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class Register;

// The calls window: the log newest first, filtered by "hoje", "não
// cadastrados" and a part of a number or name. Enter or a double click on a
// call hands it to the main window. Calls that came while the attendant was
// elsewhere are shown as new the next time this window is seen.
class CallsWindow : public QWidget
{
    Q_OBJECT

public:
    CallsWindow(Register *reg, CallLog *log, QWidget *parent = nullptr);

    // Shows the window in front with the log read anew, `selected` (a call
    // id) as the current row when it is listed.
    void showLog(qint64 selected = 0);
    // Reads the log anew when the window is open (a call was logged).
    void refresh();
    CallListModel *model() const { return m_model; }

signals:
    void callPicked(const CallRecord &call);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyFilter();
    void pickCurrentCall();
    void showTrouble(const QString &error);
    // Widths of the columns from the font and what they hold, the name taking the rest.
    void fitColumns();

    CallLog *m_log;
    CallListModel *m_model;
    QCheckBox *m_today;
    QCheckBox *m_unknownOnly;
    QLineEdit *m_text;
    QTableView *m_grid;
    QLabel *m_notice;
};
