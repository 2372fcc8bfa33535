#include "core/callerid/OutsideText.h"

#include <QTest>

// Names and messages from outside, as hostile peers sent them: what is left
// to show is plain, short and one line.
class TestOutsideText : public QObject
{
    Q_OBJECT

    static QString repeated(char32_t c, int times) { return QString::fromUcs4(&c, 1).repeated(times); }

private slots:
    void aNameIsCleanedAndCapped_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("shown");
        const QString maria = QStringLiteral("1133334444 · MARIA DA SILVA");
        QTest::newRow("braille blanks around another caller")
            << repeated(0x2800, 40) + maria + repeated(0x2800, 40) << maria;
        QTest::newRow("Hangul fillers, zero-width and odd spaces")
            << QStringLiteral("ANA\u200B\u3164\u3164\u00A0\u3000SOUZA\uFEFF\u2060") << QStringLiteral("ANA SOUZA");
        QTest::newRow("right-to-left override")
            << QStringLiteral("\u202EABC 1234-5678\u202C") << QStringLiteral("ABC 1234-5678");
        QTest::newRow("isolates and marks")
            << QStringLiteral("\u2067\u200FANA\u2069 \u061CBIA") << QStringLiteral("ANA BIA");
        QTest::newRow("terminal escapes and line breaks")
            << QStringLiteral("\x1b]0;x\x07MARIA\r\n\tDA\x1b[2J SILVA") << QStringLiteral("]0;x MARIA DA [2J SILVA");
        QTest::newRow("markup is kept as text") << QStringLiteral("<font color=red size=6>GOLPE</font>")
                                                << QStringLiteral("<font color=red size=6>GOLPE</font>");
        QTest::newRow("10 KB name") << QString(10240, u'W') << QString(39, u'W') + QChar(0x2026);
        QTest::newRow("cut at a blank") << QString(38, u'A') + QStringLiteral(" BCD")
                                        << QString(38, u'A') + QChar(0x2026);
        QTest::newRow("padding is no length")
            << repeated(0x2800, 5000) + QStringLiteral("ANA") << QStringLiteral("ANA");
        QTest::newRow("stacked marks") << QStringLiteral("A") + repeated(0x0301, 60) + QStringLiteral("B")
                                       << QStringLiteral("\u00C1\u0301\u0301B");
        QTest::newRow("decomposed accents") << QStringLiteral("JOA\u0303O") << QStringLiteral("JO\u00C3O");
        QTest::newRow("a mark with nothing to carry it") << QStringLiteral("\u0301\u0301ANA") << QStringLiteral("ANA");
        QTest::newRow("variation selectors and private use")
            << QStringLiteral("A\uFE0FN\uE000A") << QStringLiteral("ANA");
        QTest::newRow("emoji kept") << QStringLiteral("BAR \U0001F37A") << QStringLiteral("BAR \U0001F37A");
        QTest::newRow("lone surrogate") << QStringLiteral("AN") + QChar(0xD800) + QStringLiteral("A")
                                        << QStringLiteral("ANA");
        QTest::newRow("tag characters") << QStringLiteral("ANA\U000E0041\U000E0042") << QStringLiteral("ANA");
        QTest::newRow("only blanks") << repeated(0x3164, 30) + QStringLiteral("\u200B \t") << QString();
    }
    void aNameIsCleanedAndCapped()
    {
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        const QString name = OutsideText::name(sent);
        QCOMPARE(name, shown);
        QVERIFY(name.toUcs4().size() <= OutsideText::MaxNameLength + 2 * OutsideText::MaxMarks);
        QCOMPARE(OutsideText::name(name), name); // cleaning twice changes nothing
    }

    void aMessageKeepsItsLinesAndLosesTheRest()
    {
        const QString sent = QStringLiteral("Sem conexão com o servidor\n\nDetalhe: \u202E<b>x</b>\x1b[2J\n")
            + QString(5000, u'z') + QStringLiteral("\n4\n5\n6");
        const QStringList lines = OutsideText::message(sent).split(u'\n');
        QCOMPARE(lines.size(), OutsideText::MaxLines);
        QCOMPARE(lines.at(0), QStringLiteral("Sem conexão com o servidor"));
        QCOMPARE(lines.at(1), QStringLiteral("Detalhe: <b>x</b> [2J"));
        QCOMPARE(lines.at(2).size(), OutsideText::MaxLineLength);
        QCOMPARE(lines.at(3), QStringLiteral("4"));
    }

    void aQuotedNameCannotCloseItsQuote()
    {
        QCOMPARE(OutsideText::quoted(QStringLiteral("ANA \"X\" “Y” «Z»")), QStringLiteral("“ANA 'X' 'Y' 'Z'”"));
    }

    void escapedTextHoldsNothingATerminalActsOn_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<bool>("keepLineBreaks");
        QTest::addColumn<QString>("written");
        QTest::newRow("clear screen and title") << QStringLiteral("\x1b[2J\x1b]0;título\x07"
                                                                  "ANA")
                                                << false << QStringLiteral("\\x1b[2J\\x1b]0;título\\x07ANA");
        QTest::newRow("C1 and DEL") << QStringLiteral("A\u009B31mB\x7f") << false << QStringLiteral("A\\x9b31mB\\x7f");
        QTest::newRow("bidi override") << QStringLiteral("\u202EABC") << false << QStringLiteral("\\u{202e}ABC");
        QTest::newRow("line breaks") << QStringLiteral("A\r\nB\tC") << false << QStringLiteral("A\\x0d\\x0aB\\x09C");
        QTest::newRow("line breaks kept for CSV")
            << QStringLiteral("A\r\nB\tC\x1b") << true << QStringLiteral("A\r\nB\tC\\x1b");
        QTest::newRow("plain text unchanged")
            << QStringLiteral("Conceição \U0001F37A (11)") << false << QStringLiteral("Conceição \U0001F37A (11)");
    }
    void escapedTextHoldsNothingATerminalActsOn()
    {
        QFETCH(QString, sent);
        QFETCH(bool, keepLineBreaks);
        QFETCH(QString, written);
        QCOMPARE(OutsideText::escaped(sent, keepLineBreaks), written);
    }
};

QTEST_GUILESS_MAIN(TestOutsideText)
#include "TestOutsideText.moc"
