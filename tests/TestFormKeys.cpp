#include "TestSupport.h"

#include "core/contacts/SqliteRegister.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

// The form's keyboard, driven through the real window: Enter walks the fields,
// the focused field is marked, the telephone field offers and lays out numbers,
// and the area code is kept from one start to the next.
class TestFormKeys : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fx;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }

    QStringList shownTexts() const
    {
        QStringList texts;
        for (const auto &s : m_boxes->shown)
            texts << s.text;
        return texts;
    }

private slots:
    void init()
    {
        m_fx = std::make_unique<WindowFixture>();
        m_boxes = std::make_unique<RecordingMessageBoxes>();
    }
    void cleanup()
    {
        m_fx.reset();
        m_boxes.reset();
    }

    void enterWalksTheContactFieldsToTheSaveButton()
    {
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("Ana")); // so that A4 offers nothing
        edit("A4")->setFocus();
        QStringList walked;
        for (int i = 0; i < 8; ++i) {
            const QString before = WindowFixture::focusedName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTRY_VERIFY(WindowFixture::focusedName() != before);
            walked << WindowFixture::focusedName();
        }
        QCOMPARE(walked, (QStringList { "A1", "A9", "A10", "A11", "A12", "A13", "A14", "Command4" }));
        QCOMPARE(edit("A14")->text(), QString()); // Enter typed nothing
    }

    void enterInText1MovesToTheActivationButton()
    {
        QVERIFY(m_fx->start());
        QTest::keyClick(edit("Text1"), Qt::Key_Enter);
        QTRY_COMPARE(WindowFixture::focusedName(), QStringLiteral("Command1"));
    }

    void enterInTheAreaCodeAndNotesIsNotTab()
    {
        QVERIFY(m_fx->start());
        edit("Text11")->setFocus();
        QTest::keyClick(edit("Text11"), Qt::Key_Return);
        // Nothing is to happen: a bounded wait gives a focus move posted
        // through the event loop its time to show.
        QTest::qWait(20);
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("Text11"));
        m_fx->control<QTabWidget>("SSTab1")->setCurrentIndex(1);
        auto *ob = m_fx->control<QPlainTextEdit>("OB");
        ob->setFocus();
        QTest::keyClicks(ob, QStringLiteral("a"));
        QTest::keyClick(ob, Qt::Key_Return);
        QTest::keyClicks(ob, QStringLiteral("b"));
        QCOMPARE(ob->toPlainText(), QStringLiteral("a\nb"));
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("OB"));
    }

    void theFocusedFieldIsHighlightedWithItsTextSelected()
    {
        QVERIFY(m_fx->start());
        const QColor yellow(255, 255, 192);
        QCOMPARE(edit("Text1")->palette().color(QPalette::Base), yellow); // focus from the start
        auto *a9 = edit("A9");
        a9->setText(QStringLiteral("Rua das Flores"));
        a9->setFocus();
        QCOMPARE(a9->selectedText(), QStringLiteral("Rua das Flores"));
        QCOMPARE(a9->palette().color(QPalette::Base), yellow);

        auto *a12 = edit("A12");
        a12->setText(QStringLiteral("Recife"));
        QTest::mouseClick(a12, Qt::LeftButton, {}, QPoint(a12->width() - 5, a12->height() / 2));
        QCOMPARE(a9->palette().color(QPalette::Base), QColor(Qt::white));
        QTRY_COMPARE(a12->selectedText(), QStringLiteral("Recife"));
        QCOMPARE(a12->palette().color(QPalette::Base), yellow);
        QCOMPARE(edit("Text11")->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    }

    void theTelephoneFieldOffersTheIncomingNumber_data()
    {
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("a1");
        QTest::addColumn<QString>("a4");
        QTest::addColumn<QString>("expected");
        QTest::newRow("offered") << "(11)9999-8888"
                                 << ""
                                 << ""
                                 << "(11)9999-8888";
        QTest::newRow("a name is there") << "(11)9999-8888"
                                         << "Ana"
                                         << ""
                                         << "";
        QTest::newRow("a telephone is there") << "(11)9999-8888"
                                              << ""
                                              << "(21)1111-2222"
                                              << "(21)1111-2222";
        QTest::newRow("no incoming number") << ""
                                            << ""
                                            << ""
                                            << "";
    }
    void theTelephoneFieldOffersTheIncomingNumber()
    {
        QFETCH(QString, text1);
        QFETCH(QString, a1);
        QFETCH(QString, a4);
        QFETCH(QString, expected);
        QVERIFY(m_fx->start());
        edit("Text1")->setText(text1);
        edit("A1")->setText(a1);
        edit("A4")->setText(a4);
        edit("A4")->setFocus();
        QCOMPARE(edit("A4")->text(), expected);
        QCOMPARE(edit("A4")->selectedText(), expected);
    }

    // --- telephone check

    void leavingTheTelephoneFieldLaysItOut_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("refused");
        QTest::newRow("empty") << ""
                               << "" << false;
        QTest::newRow("8 refused") << "33334444"
                                   << "33334444" << true;
        QTest::newRow("9") << "113334444"
                           << "(11)333-4444" << false;
        QTest::newRow("10") << "1133334444"
                            << "(11)3333-4444" << false;
        QTest::newRow("11, a mobile") << "11933334444"
                                      << "(11)93333-4444" << false;
        QTest::newRow("local mobile") << "987654321"
                                      << "(11)98765-4321" << false;
        QTest::newRow("local, written") << "3333-4444"
                                        << "(11)3333-4444" << false;
        QTest::newRow("+55") << "+55 11 3333-4444"
                             << "(11)3333-4444" << false;
        QTest::newRow("4004 has no area code") << "40041234"
                                               << "4004-1234" << false;
        QTest::newRow("0800") << "08007771234"
                              << "0800 777 1234" << false;
        QTest::newRow("letters") << "ABCDEFGHI"
                                 << "ABCDEFGHI" << false;
        QTest::newRow("laid out") << "(11)3333-4444"
                                  << "(11)3333-4444" << false;
    }
    void leavingTheTelephoneFieldLaysItOut()
    {
        QFETCH(QString, typed);
        QFETCH(QString, result);
        QFETCH(bool, refused);
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("Ana"));
        auto *a4 = edit("A4");
        a4->setFocus();
        QTest::keyClicks(a4, typed);
        QTest::keyClick(a4, Qt::Key_Tab);
        QCOMPARE(a4->text(), result);
        QCOMPARE(shownTexts(),
            refused ? QStringList { QStringLiteral("Atenção este formato de telefone não está correto.") }
                    : QStringList {});
        QCOMPARE(WindowFixture::focusedName(), refused ? QStringLiteral("A4") : QStringLiteral("A1"));
        if (!refused) { // leaving again changes nothing
            a4->setFocus();
            QTest::keyClick(a4, Qt::Key_Tab);
            QCOMPARE(a4->text(), result);
        }
    }

    // --- area code

    void theAreaCodeIsStoredOnLeavingAndShownAtTheNextStart()
    {
        const QString path = m_fx->data().file(QStringLiteral("ddd.sqlite"));
        for (const QString &code : { QStringLiteral("21"), QString() }) {
            QVERIFY(m_fx->start());
            auto *text11 = edit("Text11");
            text11->setFocus();
            text11->selectAll();
            if (code.isEmpty())
                QTest::keyClick(text11, Qt::Key_Delete);
            else
                QTest::keyClicks(text11, code);
            QTest::keyClick(text11, Qt::Key_Tab);
            QString value = QStringLiteral("?");
            QVERIFY(SqliteRegister({}, path).loadAreaCode(&value, nullptr));
            QCOMPARE(value, code);
            QVERIFY(m_fx->start()); // the next start
            QCOMPARE(edit("Text11")->text(), code);
        }
    }
};

QTEST_MAIN(TestFormKeys)
#include "TestFormKeys.moc"
