#include "TestSupport.h"

#include "core/callerid/LineSource.h"
#include "core/callerid/NumberNormaliser.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/SqliteRegister.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A line that hands over the digits the test gives it, as a line source
// hands over a decoded message.
class ScriptedLine : public LineSource
{
public:
    using LineSource::LineSource;
    void start() override { }
    void stop() override { }
    void send(const QString &digits) { deliverNumber(digits); }
};

} // namespace

// The digits a line sends, read only as numbers that can exist today: a
// caller category in front or none, the country code written without "+",
// and, where the digits read two ways, the register and then the line's habit
// deciding, else both readings shown and neither looked up.
class TestNumberReadings : public QObject
{
    Q_OBJECT

private slots:
    void theDigitsReadOnlyAsNumbersThatExist_data()
    {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("area"); // the desk's own area code
        QTest::addColumn<QStringList>("readings"); // keys, the one without a category first

        // Local numbers get the desk's area code.
        QTest::newRow("8 local") << "33334444"
                                 << "21" << QStringList { "2133334444" };
        QTest::newRow("8 without area code set") << "33334444"
                                                 << "" << QStringList { "33334444" };
        QTest::newRow("9 local mobile") << "987654321"
                                        << "11" << QStringList { "11987654321" };
        QTest::newRow("10") << "1133334444"
                            << "21" << QStringList { "1133334444" };
        QTest::newRow("11 mobile") << "11987654321"
                                   << "21" << QStringList { "11987654321" };
        QTest::newRow("not digits") << "(11) 3333-4444"
                                    << "21" << QStringList { "1133334444" };
        QTest::newRow("long distance") << "01133334444"
                                       << "21" << QStringList { "1133334444" };
        QTest::newRow("carrier") << "0211133334444"
                                 << "21" << QStringList { "1133334444" };
        QTest::newRow("carrier and mobile") << "02111987654321"
                                            << "21" << QStringList { "11987654321" };
        QTest::newRow("0800") << "08007771234"
                              << "21" << QStringList { "08007771234" };
        QTest::newRow("4004, no area code added") << "40041234"
                                                  << "21" << QStringList { "40041234" };

        // A caller category in front, where only that reading exists.
        QTest::newRow("category and local landline") << "133334444"
                                                     << "11" << QStringList { "1133334444" };
        QTest::newRow("category, area and landline") << "11133334444"
                                                     << "21" << QStringList { "1133334444" };
        QTest::newRow("category, area and mobile") << "711987654321"
                                                   << "21" << QStringList { "11987654321" };
        QTest::newRow("category and 0800") << "108007771234"
                                           << "21" << QStringList { "08007771234" };
        // (19)8765-4321 cannot exist: every mobile has nine digits.
        QTest::newRow("category 1 and local mobile") << "1987654321"
                                                     << "11" << QStringList { "11987654321" };
        QTest::newRow("category 7 and local mobile") << "7987654321"
                                                     << "11" << QStringList { "11987654321" };
        QTest::newRow("4 is no category") << "41933334444"
                                          << "11" << QStringList { "41933334444" };

        // A category and an area code whose second digit is 9, or an area
        // code and a mobile: both exist.
        for (const QString area : { "19", "49", "69", "79", "89", "99" }) {
            const QString sent = QLatin1Char('1') + area + QStringLiteral("33334444");
            QTest::addRow("category 1 and area %s, or a mobile", qPrintable(area))
                << sent << "11" << QStringList { sent, area + QStringLiteral("33334444") };
        }
        QTest::newRow("category 7 and area 19, or a mobile of area 71")
            << "71933334444"
            << "11" << QStringList { "71933334444", "1933334444" };
        QTest::newRow("landline of area 19, or category 1 and a local mobile")
            << "1933334444"
            << "11" << QStringList { "1933334444", "11933334444" };

        // The country code, with or without its "+".
        QTest::newRow("+55 landline") << "+551133334444"
                                      << "21" << QStringList { "1133334444" };
        QTest::newRow("+55 mobile") << "+5511987654321"
                                    << "21" << QStringList { "11987654321" };
        QTest::newRow("55 landline") << "551135550101"
                                     << "21" << QStringList { "1135550101" };
        QTest::newRow("55 mobile") << "5521987650000"
                                   << "11" << QStringList { "21987650000" };
        QTest::newRow("55 landline, not category 5 and a mobile of area 51") << "551933334444"
                                                                             << "11" << QStringList { "1933334444" };
        QTest::newRow("55 and no number: category 5 and a mobile of area 51") << "551987654321"
                                                                              << "11" << QStringList { "51987654321" };
        QTest::newRow("foreign number keeps its first digit")
            << "+14155550123"
            << "21" << QStringList { PhoneNumber::read(QStringLiteral("+14155550123")).key() };

        // No reading exists today: the digits keyed as written.
        QTest::newRow("7 local") << "3334444"
                                 << "11" << QStringList { "113334444" };
        QTest::newRow("mobile before the 9th digit") << "1187654321"
                                                     << "21" << QStringList { "11987654321" };
        QTest::newRow("too short to be a number") << "190"
                                                  << "21" << QStringList { "190" };
        QTest::newRow("arabic-indic digits are not digits")
            << QString::fromUtf8("١١٣٣٣٣٤٤٤٤") << "21" << QStringList {};
    }
    void theDigitsReadOnlyAsNumbersThatExist()
    {
        QFETCH(QString, received);
        QFETCH(QString, area);
        QFETCH(QStringList, readings);
        QStringList keys;
        for (const NumberNormaliser::Reading &r : NumberNormaliser::readings(received, area))
            keys << r.key;
        QCOMPARE(keys, readings);
        QCOMPARE(NumberNormaliser::normalise(received, area), readings.size() == 1 ? readings.first() : QString());
    }

    void theRegisterThenTheLineDecide_data()
    {
        QTest::addColumn<QStringList>("stored"); // telephones in the register
        QTest::addColumn<QStringList>("earlier"); // what the line sent before
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("number"); // handed on, or none
        QTest::addColumn<QString>("text"); // shown instead, or none

        const QString both = QStringLiteral("Número incerto: (11)93333-4444 ou (19)3333-4444");
        QTest::newRow("nothing decides") << QStringList {} << QStringList {} << "11933334444"
                                         << "" << both;
        QTest::newRow("the register knows the landline")
            << QStringList { "(19) 3333-4444" } << QStringList {} << "11933334444"
            << "1933334444"
            << "";
        QTest::newRow("the register knows the mobile")
            << QStringList { "(11) 93333-4444" } << QStringList {} << "11933334444"
            << "11933334444"
            << "";
        QTest::newRow("the register knows a local mobile")
            << QStringList { "93333-4444" } << QStringList {} << "11933334444"
            << "11933334444"
            << "";
        QTest::newRow("the register knows both")
            << QStringList { "(19) 3333-4444", "(11) 93333-4444" } << QStringList {} << "11933334444"
            << "" << both;
        QTest::newRow("a line that sends categories") << QStringList {} << QStringList { "1987654321" } << "11933334444"
                                                      << "1933334444"
                                                      << "";
        QTest::newRow("a line that sends none") << QStringList {} << QStringList { "987654321" } << "11933334444"
                                                << "11933334444"
                                                << "";
        QTest::newRow("a line that sent both ways")
            << QStringList {} << QStringList { "1987654321", "988887777" } << "11933334444"
            << "" << both;
        QTest::newRow("the register before the habit")
            << QStringList { "(11) 93333-4444" } << QStringList { "1987654321" } << "11933334444"
            << "11933334444"
            << "";
        QTest::newRow("a landline of 19 or a local mobile, by habit")
            << QStringList {} << QStringList { "1133334444" } << "1933334444"
            << "1933334444"
            << "";
    }
    void theRegisterThenTheLineDecide()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, earlier);
        QFETCH(QString, received);
        QFETCH(QString, number);
        QFETCH(QString, text);
        DataFolderFixture data;
        for (const QString &telephone : stored)
            data.addContact(data.contact(QStringLiteral("Contato ") + telephone, telephone));
        SqliteRegister reg(data.file(QStringLiteral("cada.sqlite")), {});
        ScriptedLine line(QStringLiteral("11"));
        line.setCallerLookup([&reg](const QString &key) {
            std::optional<ContactRecord> found;
            return reg.findCaller(PhoneNumber::read(key, QStringLiteral("11")), &found, nullptr) && found;
        });
        QSignalSpy numbers(&line, &LineSource::numberReceived);
        QSignalSpy texts(&line, &LineSource::textReceived);
        for (const QString &digits : earlier)
            line.send(digits);
        QTRY_COMPARE(numbers.size(), earlier.size());
        line.send(received);
        if (text.isEmpty()) {
            QTRY_COMPARE(numbers.size(), earlier.size() + 1);
            QCOMPARE(numbers.last().at(0).toString(), number);
            QCOMPARE(texts.size(), 0);
        } else {
            QTRY_COMPARE(texts.size(), 1);
            QCOMPARE(texts.at(0).at(0).toString(), text);
            QCOMPARE(numbers.size(), earlier.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestNumberReadings)
#include "TestNumberReadings.moc"
