#include "TestSupport.h"

#include "core/contacts/Register.h"
#include "gui/app/AboutDialog.h"
#include "gui/app/CallsWindow.h"
#include "gui/app/HelpDialog.h"
#include "gui/app/MainWindow.h"
#include "gui/app/WindowMenu.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// Answers the configuration screen when it opens (modally, in a loop of its
// own): the area code becomes `areaCode`, then OK.
class SetupAnswer : public QObject
{
public:
    explicit SetupAnswer(QString areaCode)
        : m_areaCode(std::move(areaCode))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *setup = qobject_cast<CallerIdSetupDialog *>(QApplication::activeModalWidget());
            if (!setup)
                return;
            m_poll.stop();
            shownAreaCode = setup->findChild<QLineEdit *>(QStringLiteral("ddd"))->text();
            setup->findChild<QLineEdit *>(QStringLiteral("ddd"))->setText(m_areaCode);
            setup->accept();
            answered = true;
        });
        m_poll.start(10);
    }

    bool answered = false;
    QString shownAreaCode;

private:
    QString m_areaCode;
    QTimer m_poll;
};

QString storedAreaCode(MainWindow *window)
{
    QString value;
    window->contactRegister()->loadAreaCode(&value, nullptr);
    return value;
}

// Runs the real program with `arguments`, its event loop going on meanwhile
// (the window answers it); its exit status, -1 when it did not end.
int runZuna(const QStringList &arguments)
{
    QProcess zuna;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    zuna.setProcessEnvironment(env);
    QSignalSpy finished(&zuna, &QProcess::finished);
    zuna.start(QStringLiteral(ZUNA_BINARY), arguments);
    if (!finished.wait(20000)) {
        zuna.kill();
        zuna.waitForFinished();
        return -1;
    }
    return zuna.exitStatus() == QProcess::NormalExit ? zuna.exitCode() : -1;
}

} // namespace

class TestWindowMenu : public QObject
{
    Q_OBJECT

private slots:
    // A right click on the caller-ID display opens the menu, whose entries
    // open the windows the hidden button and the help button would.
    void theDisplaysMenuOpensEachWindow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("opens"); // objectName of the window it shows
        QTest::newRow("calls") << "menuChamadas"
                               << "Chamadas";
        QTest::newRow("help") << "menuAjuda"
                              << "ajuda";
        QTest::newRow("about") << "menuSobre"
                               << "sobre";
    }
    void theDisplaysMenuOpensEachWindow()
    {
        QFETCH(QString, action);
        QFETCH(QString, opens);
        WindowFixture fixture;
        QVERIFY(fixture.start());
        CallerIdControl *display = fixture.window()->callerId();
        QMenu *menu = WindowMenu::of(fixture.window())->menu();
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), display->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(display, &click);
        QTRY_VERIFY(menu->isVisible());
        menu->findChild<QAction *>(action)->trigger();
        menu->hide();
        QTRY_VERIFY(fixture.window()->findChild<QWidget *>(opens)
            && fixture.window()->findChild<QWidget *>(opens)->isVisible());
    }

    // "Configurar a linha" opens the configuration screen on the window's
    // register: the area code it shows and the one it stores are the DDD
    // field's.
    void configuringFromTheMenuChangesTheWindowsAreaCode()
    {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        SetupAnswer answer(QStringLiteral("21"));
        WindowMenu::of(fixture.window())->menu()->findChild<QAction *>(QStringLiteral("menuConfigurar"))->trigger();
        QVERIFY(answer.answered);
        QCOMPARE(answer.shownAreaCode, QStringLiteral("11"));
        QCOMPARE(fixture.control<QLineEdit>("Text11")->text(), QStringLiteral("21"));
        QCOMPARE(storedAreaCode(fixture.window()), QStringLiteral("21"));
    }

    // The desktop entry's actions: a second `zuna --abrir` hands the window
    // to the copy running on the folder and ends at once.
    void theDesktopActionsOpenWindowsOfTheRunningCopy()
    {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        const QString dir = fixture.data().path();
        CallsWindow *calls = fixture.window()->callsWindow();
        QVERIFY(!calls->isVisible());
        QCOMPARE(
            runZuna({ QStringLiteral("--data-dir"), dir, QStringLiteral("--abrir"), QStringLiteral("chamadas") }), 0);
        QTRY_VERIFY(calls->isVisible());

        SetupAnswer answer(QStringLiteral("31"));
        QCOMPARE(
            runZuna({ QStringLiteral("--data-dir"), dir, QStringLiteral("--abrir"), QStringLiteral("configuracao") }),
            0);
        QTRY_VERIFY(answer.answered);
        QTRY_COMPARE(fixture.control<QLineEdit>("Text11")->text(), QStringLiteral("31"));
    }
};

QTEST_MAIN(TestWindowMenu)
#include "TestWindowMenu.moc"
