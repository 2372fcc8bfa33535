#pragma once

#include <QColor>

class CallerIdControl;
class QAbstractItemModel;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QWidget;

// The controls of the attendant's window ZUNA. Each keeps its design name as
// objectName (given beside it), by which tests and automation find it.
struct MainWindowControls
{
    CallerIdControl *callerId = nullptr; // micDTMFoCx1
    QPushButton *activateButton = nullptr; // Command1, F1
    QPushButton *setupButton = nullptr; // Command2, never shown
    QPushButton *clearButton = nullptr; // Command3, F3
    QPushButton *saveButton = nullptr; // Command4, GRAVA
    QPushButton *deactivateButton = nullptr; // Command5, F2
    QPushButton *deleteButton = nullptr; // Command6, APAGA
    QPushButton *helpButton = nullptr; // Command7
    QPushButton *callsButton = nullptr; // chamadas, F4
    QLineEdit *incomingNumber = nullptr; // Text1
    QLineEdit *areaCode = nullptr; // Text11
    QLabel *contactCount = nullptr; // NXR
    QLabel *lineStatus = nullptr; // statusLinha: the line's state
    QLabel *waitingCall = nullptr; // chamadaEmEspera: a call that waits, and how to bring it in
    QLabel *codeLabel = nullptr; // CD: the loaded contact's code, never seen
    QLineEdit *siteName = nullptr; // SITE, never seen
    QLabel *notice = nullptr; // Label1
    QTabWidget *tabs = nullptr; // SSTab1
    QLineEdit *name = nullptr; // A1
    QLineEdit *phone = nullptr; // A4
    QLineEdit *address = nullptr; // A9
    QLineEdit *complement = nullptr; // A10
    QLineEdit *district = nullptr; // A11
    QLineEdit *city = nullptr; // A12
    QLineEdit *state = nullptr; // A13
    QLineEdit *postcode = nullptr; // A14
    QPlainTextEdit *notes = nullptr; // OB
    QTableView *grid = nullptr; // DBGrid1
    QLabel *registerNotice = nullptr; // avisoCadastro: over the grid while the register cannot be read
};

// Builds the window ZUNA's controls at the places, in the fonts and the
// colours of its design, in its tab order. The window wires them.
class MainWindowLayout
{
public:
    static inline const QColor Blue { 59, 110, 165 };
    static inline const QColor LightYellow { 255, 255, 192 };

    // Every control on `window`, the grid showing `model`.
    static MainWindowControls build(QWidget *window, QAbstractItemModel *model);
    // Places on a tab page are given from the tab control's own corner, tab
    // strip included: put back after the pages move.
    static void placeTabPageChildren(QTabWidget *tabs);
    // A field's background; its text stays dark whatever the theme.
    static void setFieldBackground(QLineEdit *field, const QColor &color);

private:
    static void buildCallerIdArea(QWidget *window, MainWindowControls &ui);
    static void buildEditor(QWidget *window, MainWindowControls &ui);
    static void buildGrid(QWidget *window, QAbstractItemModel *model, MainWindowControls &ui);
    static void setTabOrder(const MainWindowControls &ui);
};
