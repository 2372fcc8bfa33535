#include "TestSupport.h"

#include "core/contacts/PhoneNumber.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"

#include <QProcess>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

// Telephone numbers as identities: every way a person, a register or an
// exchange writes a number gives one key, the register's lookup compares keys,
// and the key SQLite computes for a stored telephone agrees with the one
// computed for an incoming number.
class TestPhoneNumbers : public QObject
{
    Q_OBJECT

    // The register every row of the table is looked up in (desk area code 11),
    // each contact stored as some register of the original kept it.
    std::unique_ptr<DataFolderFixture> m_data;
    // Empty registers on each backend, for the key each computes.
    std::vector<std::unique_ptr<RegisterFixture>> m_probeRegisters;
    QHash<QString, qint64> m_codes;

    std::unique_ptr<SqliteRegister> store() const
    {
        return std::make_unique<SqliteRegister>(m_data->file(QStringLiteral("cada.sqlite")), QString());
    }

    QString foundName(const QString &incoming, const QString &area = QStringLiteral("11")) const
    {
        std::optional<ContactRecord> found;
        QString error;
        if (!store()->findCaller(PhoneNumber::read(incoming, area), &found, &error))
            qFatal("lookup failed: %s", qPrintable(error));
        return found ? found->a1 : QString();
    }

    qint64 storeTelephone(const QString &name, const QString &telephone) const
    {
        return m_data->addContact(m_data->contact(name, telephone));
    }

private slots:
    void initTestCase()
    {
        m_data = std::make_unique<DataFolderFixture>();
        const QList<std::pair<QString, QString>> stored = {
            { QStringLiteral("Ana"), QStringLiteral("(11) 3333-4444") }, // typed by hand, with a blank
            { QStringLiteral("Beto"), QStringLiteral("(11)8765-4321") }, // a mobile before the ninth digit
            { QStringLiteral("Caio"), QStringLiteral("0800 777 1234") },
            { QStringLiteral("Duda"), QStringLiteral("4004-1234") },
            { QStringLiteral("Edu"), QStringLiteral("21 3333.4444") },
            { QStringLiteral("Fábio"), QStringLiteral("(11)333-4444") }, // 7-digit numbers of older registers
            { QStringLiteral("Gil"), QStringLiteral("+55 21 99876-5432") },
            { QStringLiteral("Hugo"), QStringLiteral("0300 789 1234") },
            { QStringLiteral("Iara"), QStringLiteral("5555-6666") }, // no area code: the desk's own
            { QStringLiteral("João"), QStringLiteral("8111-2222") }, // a local mobile before the ninth digit
            { QStringLiteral("Kátia"), QStringLiteral("ramal 25") },
            { QStringLiteral("Lia"), QStringLiteral("6123-4567") }, // a local mobile before the ninth digit
        };
        for (const auto &[name, telephone] : stored)
            m_codes.insert(name, storeTelephone(name, telephone));
    }

    void everyWritingHasOneKeyAndOneLayout_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("area"); // the desk's own area code
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("finds"); // the contact stored above that a call from it finds

        // Landlines, as exchanges send them and as people write them.
        QTest::newRow("landline, digits") << "1133334444"
                                          << "11"
                                          << "1133334444"
                                          << "(11)3333-4444"
                                          << "Ana";
        QTest::newRow("landline, laid out") << "(11)3333-4444"
                                            << "11"
                                            << "1133334444"
                                            << "(11)3333-4444"
                                            << "Ana";
        QTest::newRow("landline, blank") << "(11) 3333-4444"
                                         << "11"
                                         << "1133334444"
                                         << "(11)3333-4444"
                                         << "Ana";
        QTest::newRow("landline, no parentheses") << "11 3333-4444"
                                                  << "11"
                                                  << "1133334444"
                                                  << "(11)3333-4444"
                                                  << "Ana";
        QTest::newRow("landline, blanks only") << "11 3333 4444"
                                               << "11"
                                               << "1133334444"
                                               << "(11)3333-4444"
                                               << "Ana";
        QTest::newRow("landline, dots") << "11.3333.4444"
                                        << "11"
                                        << "1133334444"
                                        << "(11)3333-4444"
                                        << "Ana";
        QTest::newRow("landline, trunk 0") << "(011) 3333-4444"
                                           << "11"
                                           << "1133334444"
                                           << "(11)3333-4444"
                                           << "Ana";
        QTest::newRow("landline, 0 digits") << "01133334444"
                                            << "11"
                                            << "1133334444"
                                            << "(11)3333-4444"
                                            << "Ana";
        QTest::newRow("landline, 0xx") << "0xx11 3333-4444"
                                       << "11"
                                       << "1133334444"
                                       << "(11)3333-4444"
                                       << "Ana";
        QTest::newRow("landline, carrier") << "0 21 11 3333-4444"
                                           << "11"
                                           << "1133334444"
                                           << "(11)3333-4444"
                                           << "Ana";
        QTest::newRow("landline, carrier digits") << "0211133334444"
                                                  << "11"
                                                  << "1133334444"
                                                  << "(11)3333-4444"
                                                  << "Ana";
        QTest::newRow("landline, +55") << "+55 11 3333-4444"
                                       << "11"
                                       << "1133334444"
                                       << "(11)3333-4444"
                                       << "Ana";
        QTest::newRow("landline, 55 digits") << "551133334444"
                                             << "11"
                                             << "1133334444"
                                             << "(11)3333-4444"
                                             << "Ana";
        QTest::newRow("landline, local") << "3333-4444"
                                         << "11"
                                         << "1133334444"
                                         << "(11)3333-4444"
                                         << "Ana";
        QTest::newRow("landline, local digits") << "33334444"
                                                << "11"
                                                << "1133334444"
                                                << "(11)3333-4444"
                                                << "Ana";
        QTest::newRow("landline, other area") << "2133334444"
                                              << "11"
                                              << "2133334444"
                                              << "(21)3333-4444"
                                              << "Edu";
        QTest::newRow("landline, other desk") << "3333-4444"
                                              << "21"
                                              << "2133334444"
                                              << "(21)3333-4444"
                                              << "Edu";
        QTest::newRow("landline stored locally") << "1155556666"
                                                 << "11"
                                                 << "1155556666"
                                                 << "(11)5555-6666"
                                                 << "Iara";
        QTest::newRow("local, other area") << "2155556666"
                                           << "11"
                                           << "2155556666"
                                           << "(21)5555-6666"
                                           << "";
        QTest::newRow("landline, area 55") << "5533334444"
                                           << "11"
                                           << "5533334444"
                                           << "(55)3333-4444"
                                           << "";

        // Mobiles: eleven digits today; registers of the original hold them
        // with eight.
        QTest::newRow("mobile, digits") << "11987654321"
                                        << "11"
                                        << "11987654321"
                                        << "(11)98765-4321"
                                        << "Beto";
        QTest::newRow("mobile, laid out") << "(11)98765-4321"
                                          << "11"
                                          << "11987654321"
                                          << "(11)98765-4321"
                                          << "Beto";
        QTest::newRow("mobile, blank") << "(11) 98765-4321"
                                       << "11"
                                       << "11987654321"
                                       << "(11)98765-4321"
                                       << "Beto";
        QTest::newRow("mobile, 9 apart") << "11 9 8765-4321"
                                         << "11"
                                         << "11987654321"
                                         << "(11)98765-4321"
                                         << "Beto";
        QTest::newRow("mobile, +55") << "+55 11 98765-4321"
                                     << "11"
                                     << "11987654321"
                                     << "(11)98765-4321"
                                     << "Beto";
        QTest::newRow("mobile, 55 digits") << "5511987654321"
                                           << "11"
                                           << "11987654321"
                                           << "(11)98765-4321"
                                           << "Beto";
        QTest::newRow("mobile, carrier") << "0 15 11 98765-4321"
                                         << "11"
                                         << "11987654321"
                                         << "(11)98765-4321"
                                         << "Beto";
        QTest::newRow("mobile, trunk 0") << "011 98765-4321"
                                         << "11"
                                         << "11987654321"
                                         << "(11)98765-4321"
                                         << "Beto";
        QTest::newRow("mobile, local") << "987654321"
                                       << "11"
                                       << "11987654321"
                                       << "(11)98765-4321"
                                       << "Beto";
        QTest::newRow("mobile, local laid out") << "98765-4321"
                                                << "11"
                                                << "11987654321"
                                                << "(11)98765-4321"
                                                << "Beto";
        QTest::newRow("mobile, before the 9th digit") << "(11)8765-4321"
                                                      << "11"
                                                      << "11987654321"
                                                      << "(11)8765-4321"
                                                      << "Beto";
        QTest::newRow("mobile, 8 digits and area") << "1187654321"
                                                   << "11"
                                                   << "11987654321"
                                                   << "(11)8765-4321"
                                                   << "Beto";
        QTest::newRow("old mobile beginning with 6") << "(11)6123-4567"
                                                     << "11"
                                                     << "11961234567"
                                                     << "(11)6123-4567"
                                                     << "Lia";
        QTest::newRow("old local mobile beginning with 7") << "7123-4567"
                                                           << "11"
                                                           << "11971234567"
                                                           << "(11)7123-4567"
                                                           << "";
        QTest::newRow("mobile, stored locally") << "11981112222"
                                                << "11"
                                                << "11981112222"
                                                << "(11)98111-2222"
                                                << "João";
        QTest::newRow("mobile, other area") << "21998765432"
                                            << "11"
                                            << "21998765432"
                                            << "(21)99876-5432"
                                            << "Gil";
        QTest::newRow("mobile, other area laid out") << "(21) 99876-5432"
                                                     << "11"
                                                     << "21998765432"
                                                     << "(21)99876-5432"
                                                     << "Gil";

        // Non-geographic numbers, dialled the same from anywhere.
        QTest::newRow("0800, digits") << "08007771234"
                                      << "11"
                                      << "08007771234"
                                      << "0800 777 1234"
                                      << "Caio";
        QTest::newRow("0800, written") << "0800 777 1234"
                                       << "11"
                                       << "08007771234"
                                       << "0800 777 1234"
                                       << "Caio";
        QTest::newRow("0800, hyphens") << "0800-777-1234"
                                       << "11"
                                       << "08007771234"
                                       << "0800 777 1234"
                                       << "Caio";
        QTest::newRow("0300") << "03007891234"
                              << "11"
                              << "03007891234"
                              << "0300 789 1234"
                              << "Hugo";
        QTest::newRow("0500") << "0500 777 1234"
                              << "11"
                              << "05007771234"
                              << "0500 777 1234"
                              << "";
        QTest::newRow("4004, digits") << "40041234"
                                      << "11"
                                      << "40041234"
                                      << "4004-1234"
                                      << "Duda";
        QTest::newRow("4004, written") << "4004-1234"
                                       << "11"
                                       << "40041234"
                                       << "4004-1234"
                                       << "Duda";
        QTest::newRow("4004 behind an area code") << "(11) 4004-1234"
                                                  << "11"
                                                  << "40041234"
                                                  << "4004-1234"
                                                  << "Duda";
        QTest::newRow("3003") << "3003-1234"
                              << "11"
                              << "30031234"
                              << "3003-1234"
                              << "";

        // What older registers hold.
        QTest::newRow("7 digits and area") << "113334444"
                                           << "11"
                                           << "113334444"
                                           << "(11)333-4444"
                                           << "Fábio";
        QTest::newRow("7 digits laid out") << "(11)333-4444"
                                           << "11"
                                           << "113334444"
                                           << "(11)333-4444"
                                           << "Fábio";

        // The desk's area code not known yet: a local number keeps its digits.
        QTest::newRow("local, no desk area") << "3333-4444"
                                             << ""
                                             << "33334444"
                                             << "3333-4444"
                                             << "";
        QTest::newRow("local mobile, no desk area") << "987654321"
                                                    << ""
                                                    << "987654321"
                                                    << "98765-4321"
                                                    << "";

        // Not numbers: kept as typed, never found.
        QTest::newRow("empty") << ""
                               << "11"
                               << ""
                               << ""
                               << "";
        QTest::newRow("letters") << "ABCDEFGHI"
                                 << "11"
                                 << ""
                                 << "ABCDEFGHI"
                                 << "";
        QTest::newRow("a quote") << "11'3333-4444"
                                 << "11"
                                 << ""
                                 << "11'3333-4444"
                                 << "";
        QTest::newRow("an extension") << "(11) 3333-4444 r. 25"
                                      << "11"
                                      << ""
                                      << "(11) 3333-4444 r. 25"
                                      << "";
        QTest::newRow("too short") << "123456"
                                   << "11"
                                   << ""
                                   << "123456"
                                   << "";
        QTest::newRow("too long") << "119876543210123"
                                  << "11"
                                  << ""
                                  << "119876543210123"
                                  << "";
        QTest::newRow("eleven, not a mobile") << "11333344445"
                                              << "11"
                                              << ""
                                              << "11333344445"
                                              << "";
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("١١٣٣٣٣٤٤٤٤") << "11"
                                             << "" << QString::fromUtf8("١١٣٣٣٣٤٤٤٤") << "";
    }
    void everyWritingHasOneKeyAndOneLayout()
    {
        QFETCH(QString, written);
        QFETCH(QString, area);
        QFETCH(QString, key);
        QFETCH(QString, layout);
        QFETCH(QString, finds);
        // The key a call from it is looked up by.
        const PhoneNumber number = PhoneNumber::read(written, area);
        QCOMPARE(number.lookupKeys().value(0), key);
        QCOMPARE(number.isNumber(), !key.isEmpty());
        QCOMPARE(number.layout(), layout);
        // Laying out is done once: the laid-out number reads the same.
        QCOMPARE(PhoneNumber::read(layout, area).layout(), layout);
        QCOMPARE(PhoneNumber::read(layout, area).lookupKeys().value(0), key);
        QCOMPARE(foundName(written, area), finds);
    }

    void theStoredKeyIsAmongTheLookupKeys_data() { everyWritingHasOneKeyAndOneLayout_data(); }
    void theStoredKeyIsAmongTheLookupKeys()
    {
        // The key each backend computes for a stored telephone (SQLite by
        // triggers, PostgreSQL by a function) is one that the lookup of the
        // same number asks for.
        QFETCH(QString, written);
        QFETCH(QString, area);
        QFETCH(QString, key);
        if (key.isEmpty())
            return; // what is not a number here need not be one there
        const PhoneNumber incoming = PhoneNumber::read(key, area);
        if (m_probeRegisters.empty()) {
            for (const QString &backend : { QStringLiteral("sqlite"), QStringLiteral("postgresql") }) {
                if (QString why; RegisterFixture::available(backend, &why))
                    m_probeRegisters.push_back(std::make_unique<RegisterFixture>(backend));
            }
        }
        for (const auto &fixture : m_probeRegisters) {
            Register *reg = &fixture->reg();
            ContactRecord probe;
            probe.a1 = QStringLiteral("probe");
            probe.a4 = written;
            qint64 code = 0;
            QVERIFY(reg->insert(probe, &code, nullptr));
            std::optional<ContactRecord> found;
            QVERIFY(reg->findCaller(incoming, &found, nullptr));
            QVERIFY(reg->remove(code, nullptr));
            QVERIFY2(found && found->cd == code, qPrintable(reg->where()));
        }
    }

    void severalMatchesPreferTheExactWritingThenTheOldestCode()
    {
        DataFolderFixture data;
        auto add = [&](const char *name, const char *phone) {
            return data.addContact(data.contact(QString::fromUtf8(name), QString::fromUtf8(phone)));
        };
        add("Primeiro", "11 3333-4444");
        add("Segundo", "(011) 3333-4444");
        SqliteRegister s(data.file(QStringLiteral("cada.sqlite")), {});
        std::optional<ContactRecord> found;
        QVERIFY(s.findCaller(PhoneNumber::read(QStringLiteral("1133334444"), QStringLiteral("11")), &found, nullptr));
        QCOMPARE(found->a1, QStringLiteral("Primeiro"));
        add("Exato", "(11)3333-4444");
        QVERIFY(s.findCaller(PhoneNumber::read(QStringLiteral("1133334444"), QStringLiteral("11")), &found, nullptr));
        QCOMPARE(found->a1, QStringLiteral("Exato"));
    }

    void theSqlite3ToolKeepsTheKeyRight()
    {
        const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        QVERIFY2(!sqlite3.isEmpty(), "the sqlite3 tool is not installed (scripts/install-deps.sh installs it)");
        DataFolderFixture data;
        auto run = [&](const QString &sql) {
            QProcess p;
            p.start(sqlite3, { data.file(QStringLiteral("cada.sqlite")), sql });
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 0);
        };
        SqliteRegister s(data.file(QStringLiteral("cada.sqlite")), {});
        auto found = [&](const char *incoming) {
            std::optional<ContactRecord> r;
            if (!s.findCaller(PhoneNumber::read(QLatin1String(incoming), QStringLiteral("11")), &r, nullptr))
                qFatal("lookup failed");
            return r ? r->a1 : QString();
        };
        // A plain insert without column names, as scripts written for the
        // ten-column table do.
        run(QStringLiteral("INSERT INTO CADA VALUES (NULL, 'Lia', '11 9 8888-7777', '', '', '', '', '', '', '')"));
        QCOMPARE(found("11988887777"), QStringLiteral("Lia"));
        run(QStringLiteral("UPDATE CADA SET A4 = '(21) 2222-3333' WHERE A1 = 'Lia'"));
        QCOMPARE(found("11988887777"), QString());
        QCOMPARE(found("2122223333"), QStringLiteral("Lia"));
        run(QStringLiteral("DELETE FROM CADA"));
        QCOMPARE(found("2122223333"), QString());
    }

    void anOlderRegisterGetsTheKeyWhenFirstOpened()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cada.sqlite"));
        {
            // A register as earlier versions made it: the ten columns and an
            // index on the telephone's text.
            SqlConnection conn(path, SqlConnection::Mode::Create);
            QSqlQuery q(conn.database());
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE CADA (CD INTEGER PRIMARY KEY AUTOINCREMENT, A1 TEXT, A4 TEXT, "
                                          "A9 TEXT, A10 TEXT, A11 TEXT, A12 TEXT, A13 TEXT, A14 TEXT, OB TEXT)")));
            QVERIFY(q.exec(QStringLiteral("CREATE INDEX CADA_A4 ON CADA (A4)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO CADA (A1, A4) VALUES ('Ana', '(11)8765-4321')")));
        }
        SqliteRegister s(path, {});
        QString error;
        QVERIFY2(s.upgrade(&error), qPrintable(error));
        QVERIFY2(s.upgrade(&error), qPrintable(error)); // a second time changes nothing
        // A contact saved before the rows already there are keyed is keyed
        // by the triggers, and keyed once.
        ContactRecord bia;
        bia.a1 = QStringLiteral("Bia");
        bia.a4 = QStringLiteral("21 3333-4444");
        qint64 code = 0;
        QVERIFY(s.insert(bia, &code, &error));
        QVERIFY2(s.buildIndexes(&error), qPrintable(error));
        QVERIFY2(s.buildIndexes(&error), qPrintable(error));
        std::optional<ContactRecord> found;
        QVERIFY(s.findCaller(PhoneNumber::read(QStringLiteral("11987654321")), &found, &error));
        QCOMPARE(found->a1, QStringLiteral("Ana"));
        QVERIFY(s.findCaller(PhoneNumber::read(QStringLiteral("2133334444")), &found, &error));
        QCOMPARE(found->a1, QStringLiteral("Bia"));
        SqlConnection conn(path);
        QSqlQuery q(conn.database());
        QVERIFY(q.exec(
            QStringLiteral("SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master "
                           "WHERE type = 'index' AND sql IS NOT NULL AND tbl_name LIKE 'CADA%' ORDER BY name)")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("CADA_FONES_CHAVE CADA_NOME"));
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM CADA_FONES")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 2);
        QVERIFY(q.exec(QStringLiteral("EXPLAIN QUERY PLAN SELECT CD FROM CADA_FONES WHERE CHAVE IN ('1', '2')")));
        QVERIFY(q.next());
        QVERIFY2(q.value(3).toString().contains(QLatin1String("CADA_FONES_CHAVE")), qPrintable(q.value(3).toString()));
    }
};

QTEST_GUILESS_MAIN(TestPhoneNumbers)
#include "TestPhoneNumbers.moc"
