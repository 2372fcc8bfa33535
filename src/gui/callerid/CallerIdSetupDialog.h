#pragma once

#include "core/callerid/CallerIdSettings.h"

#include <QDialog>

#include <memory>

class QComboBox;
class Register;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class LineSource;
class SoundCardSource;

// The caller-ID monitor's configuration screen: which line source and which
// device, the local area code, the detection threshold, and for a sound card a
// live level meter and a test that shows the digits as they arrive; the
// other sources a check that starts them and shows their state (connected,
// registered, or why not) and the calls they hand over. The area
// code is the register's, the one the window's DDD field shows.
class CallerIdSetupDialog : public QDialog
{
    Q_OBJECT

public:
    // `reg`: the register the running window uses; without one the data
    // folder's own register is opened for the area code.
    explicit CallerIdSetupDialog(const QString &dataDir, QWidget *parent = nullptr, Register *reg = nullptr);
    ~CallerIdSetupDialog() override;

    CallerIdSettings settings() const;

public slots:
    void accept() override;

private:
    void buildSoundPage(QWidget *page);
    void toggleTest();
    void stopTest();
    void toggleLineCheck();
    void stopLineCheck();
    void showLineCheck();

    QString m_dataDir;
    CallerIdSettings m_settings;
    std::unique_ptr<Register> m_ownRegister;
    Register *m_register = nullptr; // null: no register could be opened, callerid.ini alone
    QComboBox *m_source;
    QStackedWidget *m_pages;
    QComboBox *m_soundDevice;
    QProgressBar *m_level;
    QLineEdit *m_digits;
    QPushButton *m_test;
    QLabel *m_testStatus;
    QLineEdit *m_audioFile;
    QComboBox *m_modemPort;
    QSpinBox *m_modemBaud;
    QLineEdit *m_modemInit;
    QLineEdit *m_ncidHost;
    QSpinBox *m_ncidPort;
    QLineEdit *m_sipAccount;
    QLineEdit *m_sipAuthUser;
    QLineEdit *m_sipPasswordFile;
    QLineEdit *m_sipListen;
    QLineEdit *m_areaCode;
    QSpinBox *m_sensitivity;
    SoundCardSource *m_testSource = nullptr;
    QWidget *m_lineCheck;
    QPushButton *m_checkLine;
    QLabel *m_lineState;
    LineSource *m_checkSource = nullptr;
};
