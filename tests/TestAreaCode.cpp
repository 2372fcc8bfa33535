#include "TestSupport.h"

#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/Register.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

namespace {

// The register's area code, read as another program would.
QString storedAreaCode(const QString &dataDir)
{
    QString value;
    QString error;
    const auto reg = Register::open(dataDir, {}, Register::Patience::Background, &error);
    if (!reg || !reg->loadAreaCode(&value, &error))
        qFatal("cannot read the area code: %s", qPrintable(error));
    return value;
}

void storeAreaCode(const QString &dataDir, const QString &value)
{
    QString error;
    const auto reg = Register::open(dataDir, {}, Register::Patience::Background, &error);
    if (!reg || !reg->storeAreaCode(value, &error))
        qFatal("cannot store the area code: %s", qPrintable(error));
}

// What the configuration screen, opened alone as `zuna --callerid-setup`
// opens it, shows as the local area code.
QString shownBySetup(const QString &dataDir)
{
    CallerIdSetupDialog dialog(dataDir);
    return dialog.findChild<QLineEdit *>(QStringLiteral("ddd"))->text();
}

void writeIniAreaCode(const QString &dataDir, const QString &value)
{
    QSettings ini(CallerIdSettings::filePath(dataDir), QSettings::IniFormat);
    ini.setValue(QStringLiteral("controle/a2DDDLocal"), value);
}

} // namespace

// The desk's area code has one store, the register's: the window's DDD field
// and the caller-ID configuration screen show and change the same value, and
// callerid.ini follows it.
class TestAreaCode : public QObject
{
    Q_OBJECT

private slots:
    // What both screens show for the files a data folder may hold.
    void bothScreensShowTheSameCode_data()
    {
        QTest::addColumn<QString>("registerCode"); // ddd.sqlite's row
        QTest::addColumn<QString>("iniCode"); // callerid.ini's a2DDDLocal; empty: no file
        QTest::addColumn<QString>("shown");
        QTest::newRow("--init --ddd 11, no callerid.ini") << "11"
                                                          << ""
                                                          << "11";
        QTest::newRow("the register wins over an older ini") << "11"
                                                             << "21"
                                                             << "11";
        QTest::newRow("an ini from before, register empty") << ""
                                                            << "21"
                                                            << "21";
        QTest::newRow("the ini's default 00 is no code") << ""
                                                         << "00"
                                                         << "";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "";
    }
    void bothScreensShowTheSameCode()
    {
        QFETCH(QString, registerCode);
        QFETCH(QString, iniCode);
        QFETCH(QString, shown);
        WindowFixture fixture;
        const QString dir = fixture.data().path();
        storeAreaCode(dir, registerCode);
        if (!iniCode.isEmpty())
            writeIniAreaCode(dir, iniCode);
        QCOMPARE(shownBySetup(dir), shown);
        QVERIFY(fixture.start());
        QCOMPARE(fixture.control<QLineEdit>("Text11")->text(), shown);
    }

    // A code changed on the configuration screen is the one the window shows
    // and the register and callerid.ini hold.
    void setupScreenChangesTheRegistersCode()
    {
        DataFolderFixture data;
        {
            CallerIdSetupDialog dialog(data.path());
            auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("ddd"));
            QCOMPARE(field->text(), QStringLiteral("11"));
            field->clear();
            QTest::keyClicks(field, QStringLiteral("2a1")); // digits only
            QCOMPARE(field->text(), QStringLiteral("21"));
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(storedAreaCode(data.path()), QStringLiteral("21"));
        QCOMPARE(CallerIdSettings::load(data.path()).a2DDDLocal, QStringLiteral("21"));
    }

    // A code typed into the window's field, stored when the field is left,
    // is the one the configuration screen shows and callerid.ini holds.
    void windowFieldChangesTheCodeTheSetupScreenShows()
    {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        MainWindow *window = fixture.window();
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        auto *field = fixture.control<QLineEdit>("Text11");
        field->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("31"));
        QTest::keyClick(field, Qt::Key_Tab);
        QTRY_VERIFY(QApplication::focusWidget() != field);
        QCOMPARE(storedAreaCode(fixture.data().path()), QStringLiteral("31"));
        QCOMPARE(CallerIdSettings::load(fixture.data().path()).a2DDDLocal, QStringLiteral("31"));
        QCOMPARE(shownBySetup(fixture.data().path()), QStringLiteral("31"));
    }
};

QTEST_MAIN(TestAreaCode)
#include "TestAreaCode.moc"
