#include "TestSupport.h"

#include "core/contacts/RegisterProblem.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"

#include <QFile>
#include <QSqlQuery>
#include <QTest>

#include <memory>

// What went wrong with the register's file is told by its kind, decided from
// SQLite's own result codes: the window waits on a busy file, gives up on a
// damaged one, and the attendant reads a sentence made from the kind.
class TestRegisterProblems : public QObject
{
    Q_OBJECT

private slots:
    void eachFailureIsToldByItsKind_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<RegisterProblem>("expected");
        QTest::addColumn<Register::Health>("health");
        QTest::newRow("held by another program's write") << "locked" << RegisterProblem::Busy << Register::Health::Busy;
        QTest::newRow("not a database") << "text" << RegisterProblem::Damaged << Register::Health::Gone;
        QTest::newRow("pages overwritten") << "scrambled" << RegisterProblem::Damaged << Register::Health::Gone;
        QTest::newRow("missing") << "missing" << RegisterProblem::CantOpen << Register::Health::Gone;
    }
    void eachFailureIsToldByItsKind()
    {
        QFETCH(QString, state);
        QFETCH(RegisterProblem, expected);
        QFETCH(Register::Health, health);
        DataFolderFixture data;
        const QString path = data.file(DataFiles::Contacts);
        // Another program's open write transaction holds the file until the
        // case ends.
        std::unique_ptr<SqlConnection> other;
        std::unique_ptr<QSqlQuery> lock;
        if (state == QLatin1String("locked")) {
            other = std::make_unique<SqlConnection>(path);
            lock = std::make_unique<QSqlQuery>(other->database());
            QVERIFY(lock->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        } else if (state == QLatin1String("missing")) {
            QVERIFY(QFile::remove(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 size = file.size();
            // The text case loses SQLite's header too; the other keeps it and
            // loses the schema and every page after it.
            QVERIFY(file.seek(state == QLatin1String("text") ? 0 : 100));
            file.write(QByteArray("isto não é um cadastro\n").repeated(int(size / 20)));
        }

        SqliteRegister reg(path, {}, Register::Patience::Window);
        // The window's own reader: it does not wait for a busy file.
        const auto reader = reg.reader(false);
        QList<Register::ListRow> rows;
        RegisterProblem met = RegisterProblem::None;
        bool tooLong = false;
        Register::Limits limits;
        limits.budgetMs = 1000;
        limits.tooLong = &tooLong;
        limits.problem = &met;
        QString error;
        QVERIFY(!reader->listPage({}, nullptr, 10, &rows, &error, limits));
        QCOMPARE(met, expected);
        // Only a busy file is handed over to the background reader, which
        // waits for it.
        QCOMPARE(tooLong, expected == RegisterProblem::Busy);

        qint64 code = 0;
        QVERIFY(!reg.insert(data.contact(QStringLiteral("Ana")), &code, &error));
        QVERIFY2(error.startsWith(sqliteProblemText(expected)), qPrintable(error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QCOMPARE(reg.health(), health);

        if (lock) {
            // The same reader reads again once the other program is done.
            QVERIFY(lock->exec(QStringLiteral("ROLLBACK")));
            QVERIFY2(reader->listPage({}, nullptr, 10, &rows, &error, limits), qPrintable(error));
            QCOMPARE(met, RegisterProblem::None);
        }
    }
};

QTEST_GUILESS_MAIN(TestRegisterProblems)
#include "TestRegisterProblems.moc"
