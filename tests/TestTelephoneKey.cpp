#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/SqlConnection.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

// Telephones of every shape registers hold and people type: landlines,
// mobiles with and without the ninth digit, 7-digit numbers, non-geographic
// numbers, with and without an area code, with a long-distance 0, a
// carrier's code, 0xx, +55 or 55, laid out with any of the separators people
// use, and text that is no telephone at all.
class TelephoneGenerator
{
public:
    explicit TelephoneGenerator(quint32 seed)
        : m_rng(seed)
    {
    }

    QString next()
    {
        switch (m_rng.bounded(12)) {
        case 0: return digits(m_rng.bounded(1, 17)); // any digits
        case 1: return junk();
        case 2: return nonGeographic();
        default: return geographic();
        }
    }

private:
    QString digits(int count)
    {
        QString out;
        for (int i = 0; i < count; ++i)
            out += QChar(u'0' + m_rng.bounded(10));
        return out;
    }
    QString pick(const QStringList &list) { return list.at(m_rng.bounded(int(list.size()))); }
    QString separator() { return pick({ "", "", "", " ", "-", ".", "/", "\t", "\u00A0", "\u2013", "  " }); }

    QString subscriber()
    {
        switch (m_rng.bounded(7)) {
        case 0: return QChar(u'2' + m_rng.bounded(4)) + digits(7); // landline
        case 1: return QLatin1Char('9') + digits(8); // mobile
        case 2: return QChar(u'6' + m_rng.bounded(4)) + digits(7); // mobile before the ninth digit
        case 3: return QChar(u'2' + m_rng.bounded(4)) + digits(6); // 7 digits of older registers
        case 4: return pick({ "300", "400" }) + digits(5); // 300X, 400X
        case 5: return digits(m_rng.bounded(6, 11)); // any length, any first digit
        default: return digits(8);
        }
    }

    QString area()
    {
        switch (m_rng.bounded(6)) {
        case 0: return digits(2); // zero included: no area code
        case 1: return pick({ "11", "19", "21", "49", "55", "69", "79", "89", "99" });
        default: return QString::number(m_rng.bounded(1, 10)) + QString::number(m_rng.bounded(1, 10));
        }
    }

    QString laidOut(const QString &number)
    {
        // Groups of the subscriber number split where people split them.
        if (number.size() < 5 || m_rng.bounded(2))
            return number;
        const qsizetype at = number.size() - 4;
        return number.left(at) + separator() + number.mid(at);
    }

    QString geographic()
    {
        const QString sub = laidOut(subscriber());
        QString a = area();
        switch (m_rng.bounded(5)) {
        case 0: a = QLatin1Char('(') + a + QLatin1Char(')'); break;
        case 1: a = QLatin1Char('(') + a + QStringLiteral(") "); break;
        default: break;
        }
        QString prefix;
        switch (m_rng.bounded(14)) {
        case 0: prefix = QStringLiteral("0"); break;
        case 1: prefix = QStringLiteral("0") + digits(2) + separator(); break; // a carrier's code
        case 2: prefix = pick({ "0xx", "0XX", "(0xx", "0xX" }); break;
        case 3: prefix = QStringLiteral("+55") + separator(); break;
        case 4: prefix = QStringLiteral("55"); break;
        case 5: prefix = QStringLiteral("+") + digits(m_rng.bounded(1, 4)) + separator(); break; // another country
        case 6: return sub; // no area code
        case 7: prefix = pick({ "0", "00", "x", "+", "++" }); break;
        default: break;
        }
        QString out = prefix + a + separator() + sub;
        if (m_rng.bounded(20) == 0)
            out = QLatin1Char(' ') + out + QLatin1Char(' ');
        return out;
    }

    QString nonGeographic()
    {
        const QString head = QLatin1Char('0') + QChar(pick({ "3", "5", "8", "9" }).at(0)) + QStringLiteral("00");
        const QString body = digits(m_rng.bounded(5, 9));
        switch (m_rng.bounded(4)) {
        case 0: return head + body;
        case 1: return head + QLatin1Char(' ') + body.left(3) + QLatin1Char(' ') + body.mid(3);
        case 2: return head.mid(1) + body; // without its 0
        default: return QStringLiteral("+55") + head.mid(1) + body;
        }
    }

    QString junk()
    {
        return pick({ "", " ", "ramal 25", "(11) 3333-4444 r. 25", "11'3333-4444", "ABCDEFGHI", "0x11 3333-4444",
                   "11 3333-4444x", "\u0661\u0661\u0663\u0663\u0663\u0663\u0664\u0664\u0664\u0664", "11_33334444",
                   "11,3333,4444", "+", "()", "0xx", "tel: 1133334444" })
            + (m_rng.bounded(2) ? digits(m_rng.bounded(0, 5)) : QString());
    }

    QRandomGenerator m_rng;
};

// The telephones the readings of the line and the faults seen were about.
const QStringList Cases
    = { "551135550101", "5521987650000", "+55 11 3555-0101", "11933334444", "1933334444", "1987654321", "(19)8765-4321",
          "(11)6123-4567", "(11)7123-4567", "6123-4567", "7123-4567", "8123-4567", "(11) 3333-4444", "(11)8765-4321",
          "0800 777 1234", "4004-1234", "(11) 4004-1234", "(11)333-4444", "0xx11 3333-4444", "0 21 11 3333-4444",
          "02111987654321", "+14155550123", "3003-1234", "0300 789 1234", "ramal 25" };

} // namespace

// The telephone key is written three times: in C++ (incoming numbers and what
// the window stores), in the SQLite triggers and in PostgreSQL's function
// (stored telephones). A caller is found only while they agree: every shape
// of telephone goes through all three, which must give the same key.
class TestTelephoneKey : public QObject
{
    Q_OBJECT

    static constexpr int Generated = 100000;

    QStringList telephones() const
    {
        QStringList all = Cases;
        TelephoneGenerator generator(20261208);
        while (all.size() < Generated + Cases.size())
            all << generator.next();
        return all;
    }

    static QStringList cppKeys(const QStringList &telephones)
    {
        QStringList keys;
        for (const QString &t : telephones)
            keys << PhoneNumber::read(t).key();
        return keys;
    }

    static void compare(
        const QStringList &telephones, const QStringList &expected, const QStringList &got, const char *where)
    {
        QCOMPARE(got.size(), expected.size());
        QStringList differ;
        for (qsizetype i = 0; i < telephones.size(); ++i) {
            if (got.at(i) != expected.at(i))
                differ << QStringLiteral("\"%1\": C++ \"%2\", %3 \"%4\"")
                              .arg(telephones.at(i), expected.at(i), QLatin1String(where), got.at(i));
        }
        QVERIFY2(differ.isEmpty(),
            qPrintable(QStringLiteral("%1 differ, e.g.\n").arg(differ.size()) + differ.mid(0, 40).join(u'\n')));
    }

private slots:
    void sqliteTriggersGiveTheSameKey()
    {
        const QStringList all = telephones();
        DataFolderFixture data;
        SqlConnection conn(data.file(QStringLiteral("cada.sqlite")));
        QVERIFY2(conn.isOpen(), qPrintable(conn.errorText()));
        QSqlDatabase db = conn.database();
        QSqlQuery q(db);
        QVERIFY(db.transaction());
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO CADA_FONES (CD, CHAVE) VALUES (?, ?)")));
        for (qsizetype i = 0; i < all.size(); ++i) {
            q.addBindValue(i + 1);
            q.addBindValue(all.at(i));
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        }
        QVERIFY(db.commit());
        QStringList keys;
        QVERIFY(q.exec(QStringLiteral("SELECT CHAVE FROM CADA_FONES ORDER BY CD")));
        while (q.next())
            keys << q.value(0).toString();
        compare(all, cppKeys(all), keys, "SQLite");
    }

    void postgresqlFunctionGivesTheSameKey()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QStringList all = telephones();
        PostgresConnection conn(server->newDatabase());
        QVERIFY2(conn.isOpen(), qPrintable(conn.errorText()));
        // All of them in one array, read back in their order.
        QStringList quoted;
        for (QString t : all)
            quoted << QLatin1Char('"') + t.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""))
                    + QLatin1Char('"');
        QSqlQuery q(conn.database());
        QVERIFY(q.prepare(QStringLiteral("SELECT zuna_chave_fone(t) FROM unnest(CAST(? AS text[])) "
                                         "WITH ORDINALITY AS x(t, i) ORDER BY i")));
        q.addBindValue(QLatin1Char('{') + quoted.join(u',') + QLatin1Char('}'));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        QStringList keys;
        while (q.next())
            keys << q.value(0).toString();
        compare(all, cppKeys(all), keys, "PostgreSQL");
    }
};

QTEST_GUILESS_MAIN(TestTelephoneKey)
#include "TestTelephoneKey.moc"
