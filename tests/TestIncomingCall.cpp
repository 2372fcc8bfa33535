#include "TestSupport.h"

#include "core/contacts/SqliteRegister.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

// An incoming call through the real window: the number laid out, the caller
// looked up by key and shown, and what an unknown caller leaves on the form.
class TestIncomingCall : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fx;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }
    QString cd() const { return m_fx->control<QLabel>("CD")->text(); }
    QString notes() const { return m_fx->control<QPlainTextEdit>("OB")->toPlainText(); }
    CallerIdControl *monitor() const { return m_fx->window()->callerId(); }

    qint64 add(const QString &name, const QString &phone, const QString &notes = {})
    {
        ContactRecord r = m_fx->data().contact(name, phone);
        r.ob = notes;
        return m_fx->data().addContact(r);
    }

    // The monitor on, with no line source: numbers come from the test, as a
    // line source hands them over.
    void switchOn()
    {
        CallerIdSettings settings = CallerIdSettings::load(m_fx->data().path());
        settings.source = CallerIdSettings::Source::None;
        QVERIFY(settings.save(m_fx->data().path()));
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QVERIFY(monitor()->isActive());
    }

    int callWithZunaCall(const QString &number) const
    {
        return m_fx->callWithZunaCall(QStringLiteral(ZUNA_BINARY), number);
    }

private slots:
    void init() { m_fx = std::make_unique<WindowFixture>(); }
    void cleanup() { m_fx.reset(); }

    void aCallFindsTheCallerHoweverTheTelephoneWasWritten()
    {
        add(QStringLiteral("Ana"), QStringLiteral("(11) 3333-4444"));
        add(QStringLiteral("Beto"), QStringLiteral("11 8765-4321")); // before the ninth digit
        add(QStringLiteral("Caio"), QStringLiteral("0800 777 1234"));
        add(QStringLiteral("Duda"), QStringLiteral("+55 21 99876-5432"));
        add(QStringLiteral("Eva"), QStringLiteral("(19) 3333-4444"));
        QVERIFY(m_fx->start());
        switchOn();
        const QList<std::tuple<QString, QString, QString>> calls = {
            { QStringLiteral("1133334444"), QStringLiteral("(11)3333-4444"), QStringLiteral("Ana") },
            { QStringLiteral("987654321"), QStringLiteral("(11)98765-4321"), QStringLiteral("Beto") },
            { QStringLiteral("08007771234"), QStringLiteral("0800 777 1234"), QStringLiteral("Caio") },
            { QStringLiteral("021998765432"), QStringLiteral("(21)99876-5432"), QStringLiteral("Duda") },
            { QStringLiteral("551133334444"), QStringLiteral("(11)3333-4444"), QStringLiteral("Ana") },
            // Category 1 and Eva's landline, or a mobile of area 11: the
            // register knows Eva.
            { QStringLiteral("11933334444"), QStringLiteral("(19)3333-4444"), QStringLiteral("Eva") },
        };
        for (const auto &[number, shown, name] : calls) {
            QCOMPARE(callWithZunaCall(number), 0);
            QTRY_COMPARE(edit("Text1")->text(), shown); // calls come at most four a second
            QCOMPARE(edit("A1")->text(), name);
            QCOMPARE(edit("A4")->text(), shown);
        }
    }

    void digitsThatReadTwoWaysFillNothing()
    {
        // Neither reading is in the register and the line has no habit yet.
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        QVERIFY(m_fx->start());
        switchOn();
        edit("Text1")->setText(QStringLiteral("1133334444"));
        QCOMPARE(cd(), QString::number(ana));
        QCOMPARE(callWithZunaCall(QStringLiteral("11933334444")), 0);
        QTRY_COMPARE(monitor()->text(), QStringLiteral("Número incerto: (11)93333-4444 ou (19)3333-4444"));
        // Neither reading is put in the form, and the previous caller leaves it.
        QCOMPARE(edit("Text1")->text(), QString());
        QCOMPARE(edit("A1")->text(), QString());
        QCOMPARE(cd(), QString());

        // A local mobile without a category: this line sends none, and keeps
        // that habit when the monitor is switched off and on again.
        QCOMPARE(callWithZunaCall(QStringLiteral("987654321")), 0);
        QTRY_COMPARE(edit("Text1")->text(), QStringLiteral("(11)98765-4321"));
        QTest::keyClick(edit("Text1"), Qt::Key_F2);
        QVERIFY(!monitor()->isActive());
        switchOn();
        QCOMPARE(callWithZunaCall(QStringLiteral("11933334444")), 0);
        QTRY_COMPARE(edit("Text1")->text(), QStringLiteral("(11)93333-4444"));
    }

    void anUnknownCallerFromTheLineIsNotShownAsThePreviousOne()
    {
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"), QStringLiteral("portão azul"));
        QVERIFY(m_fx->start());
        switchOn();
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(cd(), QString::number(ana));
        monitor()->reportNumber(QStringLiteral("21999988888"));
        QCOMPARE(edit("Text1")->text(), QStringLiteral("(21)99998-8888"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("(21)99998-8888")); // ready for registering
        for (const char *name : { "A1", "A9", "A10", "A11", "A12", "A13", "A14" })
            QCOMPARE(edit(name)->text(), QString());
        QCOMPARE(notes(), QString());
        QCOMPARE(cd(), QString());

        // Registered as a new contact; Ana keeps her address.
        RecordingMessageBoxes boxes;
        edit("A1")->setText(QStringLiteral("Bia"));
        edit("A9")->setText(QStringLiteral("Rua Nova, 5"));
        m_fx->window()->saveContact();
        std::optional<ContactRecord> stored;
        QVERIFY(SqliteRegister(m_fx->data().file(QStringLiteral("cada.sqlite"))).findByCode(ana, &stored, nullptr));
        QCOMPARE(stored->a9, QStringLiteral("Rua Ana, 10"));
        QCOMPARE(stored->ob, QStringLiteral("portão azul"));

        // The same caller again, after the attendant moved on, is a new call.
        QTest::keyClick(edit("Text1"), Qt::Key_F3);
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
    }

    void theNameTheLineSentIsShownWithTheNumber()
    {
        QVERIFY(m_fx->start());
        switchOn();
        monitor()->reportNumber(QStringLiteral("21999988888"), QStringLiteral("MARIA DA SILVA"));
        QCOMPARE(monitor()->fullText(), QStringLiteral("(21)99998-8888 · “MARIA DA SILVA”"));
        QCOMPARE(monitor()->lastCallerName(), QStringLiteral("MARIA DA SILVA"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("(21)99998-8888")); // ready for registering
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(monitor()->text(), QStringLiteral("(11)3333-4444"));
        QCOMPARE(monitor()->lastCallerName(), QString());
    }

    void aNameFromTheLineCanNeitherPassForANumberNorBeMarkup_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const QString braille = QString(40, QChar(0x2800));
        QTest::newRow("padded to pass for a known caller") << braille + QStringLiteral("1133334444 · MARIA DA SILVA")
                + braille << QStringLiteral("1133334444 · MARIA DA SILVA");
        QTest::newRow("font") << QStringLiteral("<font color=red size=6>GOLPE</font>")
                              << QStringLiteral("<font color=red size=6>GOLPE</font>");
        QTest::newRow("line break") << QStringLiteral("ANA<br>BIA") << QStringLiteral("ANA<br>BIA");
        QTest::newRow("image") << QStringLiteral("<img src=x>") << QStringLiteral("<img src=x>");
        QTest::newRow("right-to-left override")
            << QStringLiteral("\u202EABC 1234-5678") << QStringLiteral("ABC 1234-5678");
        QTest::newRow("10 KB") << QString(10240, u'W') << QString(39, u'W') + QChar(0x2026);
    }
    void aNameFromTheLineCanNeitherPassForANumberNorBeMarkup()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QVERIFY(m_fx->start());
        switchOn();
        monitor()->reportNumber(QStringLiteral("2122223333"), name);
        // Plain text; the real number first, whole, the name after it in quotes.
        QCOMPARE(monitor()->textFormat(), Qt::PlainText);
        const QString number = QStringLiteral("(21)2222-3333 · “");
        QCOMPARE(monitor()->fullText(), number + shown + QStringLiteral("”"));
        QVERIFY2(monitor()->text().startsWith(number), qPrintable(monitor()->text()));
        QVERIFY2(monitor()->fontMetrics().horizontalAdvance(monitor()->text()) <= monitor()->contentsRect().width(),
            qPrintable(monitor()->text()));
        QCOMPARE(monitor()->lastCallerName(), shown);
    }

    void aNumberTypedByHandIsLaidOutFromItsDigits_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("name");
        QTest::newRow("landline") << "1133334444"
                                  << "(11)3333-4444"
                                  << "Ana";
        QTest::newRow("mobile") << "11987654321"
                                << "(11)98765-4321"
                                << "Beto";
        QTest::newRow("local mobile") << "987654321"
                                      << "98765-4321"
                                      << "Beto";
        QTest::newRow("0800") << "08007771234"
                              << "0800 777 1234"
                              << "";
        QTest::newRow("other area") << "2133334444"
                                    << "(21)3333-4444"
                                    << "";
        QTest::newRow("with blanks") << "11 3333 4444"
                                     << "(11)3333-4444"
                                     << "Ana";
    }
    void aNumberTypedByHandIsLaidOutFromItsDigits()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, name);
        add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        add(QStringLiteral("Beto"), QStringLiteral("(11)98765-4321"));
        QVERIFY(m_fx->start());
        RecordingMessageBoxes boxes;
        auto *text1 = edit("Text1");
        text1->setFocus();
        QTest::keyClicks(text1, typed);
        QCOMPARE(text1->text(), shown);
        QCOMPARE(edit("A4")->text(), shown);
        QCOMPARE(edit("A1")->text(), name);
        QVERIFY(boxes.shown.isEmpty());
    }

    void halfANumberTypedByHandWipesNothing()
    {
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("Cliente novo"));
        edit("A9")->setText(QStringLiteral("Rua X, 1"));
        auto *text1 = edit("Text1");
        text1->setFocus();
        QTest::keyClicks(text1, QStringLiteral("2133"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Cliente novo"));
        QCOMPARE(edit("A9")->text(), QStringLiteral("Rua X, 1"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("2133"));
        // A number that finds a contact still loads it, code and all.
        text1->clear();
        QTest::keyClicks(text1, QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(cd(), QString::number(ana));
    }

    void whatIsNotANumberStaysAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letters") << "ABCDEFGHI";
        QTest::newRow("a quote") << "11'3333-4444";
        QTest::newRow("too long") << "1133334444555";
    }
    void whatIsNotANumberStaysAsTyped()
    {
        QFETCH(QString, typed);
        add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        QVERIFY(m_fx->start());
        RecordingMessageBoxes boxes;
        edit("Text1")->setText(typed);
        QCOMPARE(edit("Text1")->text(), typed);
        QCOMPARE(edit("A4")->text(), typed);
        QCOMPARE(edit("A1")->text(), QString());
        QVERIFY(boxes.shown.isEmpty());
    }

    void anEmptyNumberRunsNothing()
    {
        QVERIFY(m_fx->start());
        edit("Text1")->setText(QStringLiteral("123"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("123"));
        edit("Text1")->clear();
        QCOMPARE(edit("A4")->text(), QStringLiteral("123")); // nothing ran
    }

    void aCallBringsTheWindowBack()
    {
        QVERIFY(m_fx->start());
        m_fx->window()->showMinimized();
        edit("Text1")->setText(QStringLiteral("1133334444"));
        QVERIFY(!(m_fx->window()->windowState() & Qt::WindowMinimized));
    }

    void aCallDoesNotTakeTheKeyboardFromAnotherWindow()
    {
        add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        QVERIFY(m_fx->start());
        switchOn();
        QLineEdit elsewhere; // the attendant typing in another program
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        elsewhere.setFocus();
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(QApplication::activeWindow(), &elsewhere);
        QTest::keyClicks(&elsewhere, QStringLiteral("abc"));
        QCOMPARE(elsewhere.text(), QStringLiteral("abc"));
        QCOMPARE(edit("Text1")->text(), QStringLiteral("(11)3333-4444"));
    }

    void theMonitorAsksForTheAreaCodeFirst()
    {
        QVERIFY(m_fx->start());
        auto *text11 = edit("Text11");
        text11->clear();
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QVERIFY(!monitor()->isActive());
        QCOMPARE(monitor()->text(), QStringLiteral("DDD local não informado"));
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("Text11"));
        QTest::keyClicks(text11, QStringLiteral("1a1"));
        QCOMPARE(text11->text(), QStringLiteral("11")); // digits only
        QTest::keyClick(text11, Qt::Key_F1);
        QVERIFY(monitor()->isActive());
    }
};

QTEST_MAIN(TestIncomingCall)
#include "TestIncomingCall.moc"
