#include "TestSupport.h"

#include "DelayProxy.h"
#include "PostgresServer.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/PostgresRegister.h"
#include "gui/app/CallLog.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

// The register's server across town: every byte held back on its way there
// and back by a proxy, as over the internet. The window keeps answering and
// the server stays reachable, however many round trips a step needs.
class TestFarServer : public QObject
{
    Q_OBJECT

    PostgresServer *m_server = nullptr;
    QString m_url;

    static QStringList listedNames(const WindowFixture &desk)
    {
        QStringList names;
        const QAbstractItemModel *model = desk.control<QTableView>("DBGrid1")->model();
        for (int r = 0; r < model->rowCount(); ++r)
            names << model->index(r, ContactListModel::Name).data().toString();
        return names;
    }

private slots:
    void initTestCase()
    {
        QString why;
        m_server = PostgresServer::shared(&why);
        if (!m_server)
            QSKIP(qPrintable(why));
        m_url = m_server->newDatabase();
        m_server->exec(m_url, QStringLiteral("UPDATE a1 SET a1 = '11'"));
        m_server->exec(m_url,
            QStringLiteral("INSERT INTO cada (a1, a4) VALUES ('MARIA APARECIDA', '(11)3000-0001'), "
                           "('MANUEL BANDEIRA', '(11)3000-0002'), ('MARCOS CARDOSO', '(11)3000-0003')"));
    }

    // The test database through a proxy.
    QString farUrl(const DelayProxy &proxy) const
    {
        return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2")
            .arg(proxy.port())
            .arg(m_url.section('/', 3).section('?', 0, 0));
    }

    // A contact stored by another program; its code.
    qint64 storedElsewhere(const QString &name) const
    {
        return m_server
            ->value(m_url,
                QStringLiteral("INSERT INTO cada (a1, a4) VALUES ('%1', '(11)3200-0001') RETURNING cd").arg(name))
            .toLongLong();
    }

    // The desk's window on the test database through a proxy.
    std::unique_ptr<WindowFixture> farDesk(const DelayProxy &proxy) const
    {
        auto desk = std::make_unique<WindowFixture>();
        // The window's own budget, not the tests' generous one.
        ContactListModel::setWindowBudgetMs(ContactListModel::DefaultWindowBudgetMs);
        desk->setDatabaseUrl(farUrl(proxy));
        if (!desk->start())
            return nullptr;
        return desk;
    }

    // A keystroke's page read on the window's thread would hold the window
    // for the round trips; past the window's limit on an answer, the server
    // would even be taken as gone. The page is read in the background.
    void aKeystrokesPageComesWithoutHoldingTheWindow_data()
    {
        QTest::addColumn<int>("oneWayMs");
        QTest::newRow("40 ms round trip") << 20;
        QTest::newRow("100 ms round trip") << 50;
    }

    void aKeystrokesPageComesWithoutHoldingTheWindow()
    {
        QFETCH(int, oneWayMs);
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), oneWayMs);
        QVERIFY(proxy.port() > 0);
        const auto far = farDesk(proxy);
        QVERIFY(far);
        const WindowFixture &desk = *far;
        auto *name = desk.control<QLineEdit>("A1");
        auto *model = qobject_cast<ContactListModel *>(desk.control<QTableView>("DBGrid1")->model());
        QTRY_COMPARE(listedNames(desk), QStringList({ "MANUEL BANDEIRA", "MARCOS CARDOSO", "MARIA APARECIDA" }));
        for (const QString &typed : { QStringLiteral("m"), QStringLiteral("a"), QStringLiteral("r") }) {
            QTest::keyClicks(name, typed);
            QVERIFY2(model->isSearching(), "the page was read while the window waited");
            QTRY_VERIFY(!model->isSearching());
        }
        QCOMPARE(listedNames(desk), QStringList({ "MARCOS CARDOSO", "MARIA APARECIDA" }));
        QVERIFY(!desk.control<QLabel>("avisoCadastro")->isVisible());
        QCOMPARE(boxes.shown.size(), 0);
    }

    // A server next door whose line stalls while a keystroke's page is on
    // its way (a link that drops for a moment): the window tried the server,
    // and waits for it no longer than its own moment, not for the answer
    // held up on the line. The page comes from the background, and the
    // server is not taken for gone.
    void aLineThatStallsMidReadDoesNotHoldTheWindow()
    {
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), 0);
        QVERIFY(proxy.port() > 0);
        const auto near = farDesk(proxy);
        QVERIFY(near);
        auto *name = near->control<QLineEdit>("A1");
        auto *model = qobject_cast<ContactListModel *>(near->control<QTableView>("DBGrid1")->model());
        QTRY_COMPARE(listedNames(*near).size(), 3);
        QTest::keyClicks(name, QStringLiteral("m"));
        QTRY_VERIFY(!model->isSearching());
        proxy.setDelay(60);
        QElapsedTimer held;
        held.start();
        QTest::keyClicks(name, QStringLiteral("a"));
        const qint64 heldMs = held.elapsed();
        QVERIFY2(heldMs < 60, qPrintable(QStringLiteral("the window was held %1 ms").arg(heldMs)));
        QVERIFY(model->isSearching());
        QTRY_VERIFY(!model->isSearching());
        QCOMPARE(listedNames(*near), QStringList({ "MANUEL BANDEIRA", "MARCOS CARDOSO", "MARIA APARECIDA" }));
        QVERIFY(!near->control<QLabel>("avisoCadastro")->isVisible());
        QCOMPARE(boxes.shown.size(), 0);
    }

    // A call's lookup waited for on the window's thread would hold it for a
    // round trip or more. The caller shows when the answer comes; of two
    // calls in a row, the second one's caller, and both calls are logged.
    void aCallsCallerComesWithoutHoldingTheWindow_data() { aKeystrokesPageComesWithoutHoldingTheWindow_data(); }

    void aCallsCallerComesWithoutHoldingTheWindow()
    {
        QFETCH(int, oneWayMs);
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), oneWayMs);
        const auto desk = farDesk(proxy);
        QVERIFY(desk);
        QVERIFY(desk->switchMonitorOn());
        auto *name = desk->control<QLineEdit>("A1");
        const int before = m_server->value(m_url, QStringLiteral("SELECT count(*) FROM chamadas")).toInt();

        desk->window()->callerId()->reportNumber(QStringLiteral("1130000001"));
        QVERIFY2(name->text().isEmpty(), "the lookup was waited for");
        QTRY_COMPARE(name->text(), QStringLiteral("MARIA APARECIDA"));

        desk->window()->clearForm();
        desk->window()->callerId()->reportNumber(QStringLiteral("1130000002"));
        desk->window()->callerId()->reportNumber(QStringLiteral("1130000003"));
        // The answers come in the order asked: the first one's came before
        // and changed nothing.
        QTRY_COMPARE(name->text(), QStringLiteral("MARCOS CARDOSO"));
        QVERIFY(desk->control<QLineEdit>("A4")
                    ->text()
                    .remove(QRegularExpression(QStringLiteral("\\D")))
                    .endsWith(QLatin1String("30000003")));
        desk->window()->callLog()->flush();
        QTRY_COMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM chamadas")).toInt(), before + 3);
        QCOMPARE(m_server->value(m_url,
                     QStringLiteral("SELECT string_agg(coalesce(nome, '-'), ', ' ORDER BY id) FROM "
                                    "(SELECT id, nome FROM chamadas ORDER BY id DESC LIMIT 3) AS last")),
            QStringLiteral("MARIA APARECIDA, MANUEL BANDEIRA, MARCOS CARDOSO"));
        QCOMPARE(boxes.shown.size(), 0);
    }

    // A call that comes while the form holds the attendant's typing waits
    // beside it: its caller is looked up and the call logged without
    // holding the window, the typing left as it was.
    void aWaitingCallsCallerComesWithoutHoldingTheWindow_data() { aKeystrokesPageComesWithoutHoldingTheWindow_data(); }

    void aWaitingCallsCallerComesWithoutHoldingTheWindow()
    {
        QFETCH(int, oneWayMs);
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), oneWayMs);
        const auto desk = farDesk(proxy);
        QVERIFY(desk);
        QVERIFY(desk->switchMonitorOn());
        auto *name = desk->control<QLineEdit>("A1");
        auto *waiting = desk->control<QLabel>("chamadaEmEspera");
        const int before = m_server->value(m_url, QStringLiteral("SELECT count(*) FROM chamadas")).toInt();
        name->setText(QStringLiteral("Zé digitando"));
        desk->window()->callerId()->reportNumber(QStringLiteral("1130000001"));
        QVERIFY2(!waiting->toolTip().contains(QLatin1String("MARIA")), "the lookup was waited for");
        QTRY_VERIFY(waiting->toolTip().contains(QLatin1String("MARIA APARECIDA"))); // the label itself may be elided
        QCOMPARE(name->text(), QStringLiteral("Zé digitando"));
        desk->window()->callLog()->flush();
        QTRY_COMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM chamadas")).toInt(), before + 1);
        QCOMPARE(boxes.shown.size(), 0);
    }

    // A save waited for on the window's thread would hold it for the
    // writes' round trips. The form waits, read-only, for the answer; the
    // contact is stored once, and saved again it is rewritten, not copied.
    // Picked and deleted, it is the same.
    void aSaveIsStoredWithoutHoldingTheWindow_data() { aKeystrokesPageComesWithoutHoldingTheWindow_data(); }

    void aSaveIsStoredWithoutHoldingTheWindow()
    {
        QFETCH(int, oneWayMs);
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), oneWayMs);
        const auto desk = farDesk(proxy);
        QVERIFY(desk);
        auto *name = desk->control<QLineEdit>("A1");
        auto *code = desk->control<QLabel>("CD");
        auto *counted = desk->control<QLabel>("NXR");
        const int before = counted->text().toInt();
        const QString who = QStringLiteral("ZULEICA LONGE %1").arg(oneWayMs);
        name->setText(who);
        desk->control<QLineEdit>("A4")->setText(QStringLiteral("(11)3100-%1").arg(oneWayMs));
        desk->window()->saveContact();
        QVERIFY2(boxes.shown.isEmpty(), "the save was waited for");
        QVERIFY(name->isReadOnly());
        desk->window()->saveContact(); // a second click meanwhile stores nothing more
        QTRY_COMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.constLast().text, QStringLiteral("Operação realizada com sucesso."));
        QVERIFY(!name->isReadOnly());
        QVERIFY(!code->text().isEmpty());
        QTRY_COMPARE(counted->text().toInt(), before + 1); // counted on the errand's thread too
        const QString count = QStringLiteral("SELECT count(*) FROM cada WHERE a1 = '%1'").arg(who);
        QCOMPARE(m_server->value(m_url, count), QStringLiteral("1"));

        desk->control<QLineEdit>("A9")->setText(QStringLiteral("Rua Longe, 1"));
        desk->window()->saveContact();
        QTRY_COMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown.constLast().text, QStringLiteral("Operação realizada com sucesso."));
        QCOMPARE(m_server->value(m_url, count), QStringLiteral("1"));
        QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT a9 FROM cada WHERE cd = %1").arg(code->text())),
            QStringLiteral("Rua Longe, 1"));

        // Picked again by its code: the form fills when the answer comes.
        const QString stored = code->text();
        desk->window()->clearForm();
        QVERIFY(name->text().isEmpty());
        code->setText(stored);
        desk->window()->loadPickedContact();
        QVERIFY2(name->text().isEmpty(), "the pick was waited for");
        QTRY_COMPARE(name->text(), who);

        // Deleted: the form waits for the answer, then is emptied.
        boxes.answers << MessageBoxes::Answer::Yes;
        desk->window()->deleteContact();
        QVERIFY2(name->isReadOnly(), "the delete was waited for");
        QTRY_VERIFY(name->text().isEmpty());
        QVERIFY(!name->isReadOnly());
        QCOMPARE(m_server->value(m_url, count), QStringLiteral("0"));
        QTRY_COMPARE(counted->text().toInt(), before);
    }

    // Across town the desk saves on the errand's connection, not on the one
    // that listens for changes: its own saves are not taken for another
    // desk's, and another desk's change still shows in its list and count.
    void anotherDesksSaveShowsAtTheDeskAcrossTown()
    {
        RecordingMessageBoxes boxes;
        DelayProxy proxy(m_server->socketFile(), 20);
        const auto desk = farDesk(proxy);
        QVERIFY(desk);
        auto *counted = desk->control<QLabel>("NXR");
        const int before = counted->text().toInt();
        desk->control<QLineEdit>("A1")->setText(QStringLiteral("ZILDA PERTO"));
        desk->control<QLineEdit>("A4")->setText(QStringLiteral("(11)3100-0077"));
        desk->window()->saveContact();
        QTRY_COMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.constLast().text, QStringLiteral("Operação realizada com sucesso."));
        QTRY_COMPARE(counted->text().toInt(), before + 1);
        storedElsewhere(QStringLiteral("ZILDA PERTO DA OUTRA MESA"));
        QTRY_VERIFY(listedNames(*desk).contains(QStringLiteral("ZILDA PERTO DA OUTRA MESA")));
        QTRY_COMPARE(counted->text().toInt(), before + 2);
        QVERIFY(listedNames(*desk).contains(QStringLiteral("ZILDA PERTO")));
    }

    // Across town every statement waited for costs a round trip: an update
    // (stored, or finding the contact changed or deleted at another desk)
    // needs two, BEGIN sent with the UPDATE and then the COMMIT, and a delete
    // one, on a connection that never ran one before too. Each is timed
    // through the proxy on a connection of its own, the fastest of three
    // kept: a busy machine delays one now and then, never every one.
    void aWriteWaitsForNoMoreRoundTripsThanItNeeds_data()
    {
        QTest::addColumn<QString>("write");
        QTest::addColumn<int>("saved");
        QTest::addColumn<QString>("storedThen");
        QTest::addColumn<double>("roundTrips");
        QTest::newRow("update") << QStringLiteral("update") << int(Register::Saved::Updated)
                                << QStringLiteral("Rua Longe, 2") << 2.5;
        QTest::newRow("update, changed at another desk")
            << QStringLiteral("changed") << int(Register::Saved::ChangedElsewhere)
            << QStringLiteral("Rua de Outra Mesa") << 2.5;
        QTest::newRow("update, deleted at another desk")
            << QStringLiteral("deleted") << int(Register::Saved::Missing) << QString() << 2.5;
        QTest::newRow("delete") << QStringLiteral("delete") << 0 << QString() << 1.5;
    }

    void aWriteWaitsForNoMoreRoundTripsThanItNeeds()
    {
        QFETCH(QString, write);
        QFETCH(int, saved);
        QFETCH(QString, storedThen);
        QFETCH(double, roundTrips);
        constexpr int OneWayMs = 50;
        DelayProxy proxy(m_server->socketFile(), OneWayMs);
        QVERIFY(proxy.port() > 0);
        double fastest = 1e9;
        for (int i = 0; i < 3; ++i) {
            ContactRecord loaded;
            loaded.a1 = QStringLiteral("ZENAIDE DISTANTE");
            loaded.a4 = QStringLiteral("(11)3200-0001");
            loaded.cd = storedElsewhere(loaded.a1);
            PostgresRegister reg(farUrl(proxy));
            QString error;
            qint64 counted = 0;
            QVERIFY2(reg.count(&counted, &error), qPrintable(error)); // connected, and used once
            if (write == QLatin1String("changed"))
                m_server->exec(
                    m_url, QStringLiteral("UPDATE cada SET a9 = 'Rua de Outra Mesa' WHERE cd = %1").arg(loaded.cd));
            else if (write == QLatin1String("deleted"))
                m_server->exec(m_url, QStringLiteral("DELETE FROM cada WHERE cd = %1").arg(loaded.cd));
            ContactRecord typed = loaded;
            typed.a9 = QStringLiteral("Rua Longe, 2");
            Register::Saved result = Register::Saved::Missing;
            QElapsedTimer writing;
            writing.start();
            const bool written = write == QLatin1String("delete") ? reg.remove(loaded.cd, &error)
                                                                  : reg.update(typed, &loaded, &result, &error);
            fastest = std::min(fastest, writing.nsecsElapsed() / 1e6);
            QVERIFY2(written, qPrintable(error));
            if (write != QLatin1String("delete"))
                QCOMPARE(int(result), saved);
            QCOMPARE(
                m_server->value(m_url, QStringLiteral("SELECT a9 FROM cada WHERE cd = %1").arg(loaded.cd)), storedThen);
            m_server->exec(m_url, QStringLiteral("DELETE FROM cada WHERE cd = %1").arg(loaded.cd));
        }
        qInfo("%s: %.0f ms, %.2f round trips", qPrintable(write), fastest, fastest / (2 * OneWayMs));
        QVERIFY2(fastest < roundTrips * 2 * OneWayMs, qPrintable(QString::number(fastest)));
    }

    // A contact deleted from the window: its round trip, then the list read
    // once, not twice in a row (the name field's emptying reads it too).
    void aDeleteEmptiesTheFormAndListsAgainInTwoRoundTrips()
    {
        constexpr int OneWayMs = 50;
        RecordingMessageBoxes boxes;
        QList<qint64> codes;
        for (int i = 0; i < 3; ++i)
            codes << storedElsewhere(QStringLiteral("ZENAIDE DISTANTE %1").arg(i));
        DelayProxy proxy(m_server->socketFile(), OneWayMs);
        const auto desk = farDesk(proxy);
        QVERIFY(desk);
        auto *name = desk->control<QLineEdit>("A1");
        auto *model = qobject_cast<ContactListModel *>(desk->control<QTableView>("DBGrid1")->model());
        double fastest = 1e9;
        for (const qint64 code : std::as_const(codes)) {
            desk->control<QLabel>("CD")->setText(QString::number(code));
            desk->window()->loadPickedContact();
            QTRY_VERIFY(name->text().startsWith(QLatin1String("ZENAIDE")));
            QTRY_VERIFY(!model->isSearching());
            boxes.answers << MessageBoxes::Answer::Yes;
            QElapsedTimer deleting;
            deleting.start();
            desk->window()->deleteContact();
            // (Checked more often than QTRY_VERIFY does.)
            QVERIFY(QTest::qWaitFor([&] { return name->text().isEmpty() && !model->isSearching(); }, 5000));
            fastest = std::min(fastest, deleting.nsecsElapsed() / 1e6);
            QCOMPARE(m_server->value(m_url, QStringLiteral("SELECT count(*) FROM cada WHERE cd = %1").arg(code)),
                QStringLiteral("0"));
        }
        qInfo("delete to the list read again: %.0f ms, %.2f round trips", fastest, fastest / (2 * OneWayMs));
        QVERIFY2(fastest < 2.5 * 2 * OneWayMs, qPrintable(QString::number(fastest)));
        QCOMPARE(boxes.shown.size(), 3); // the questions alone
        for (const auto &box : std::as_const(boxes.shown))
            QVERIFY2(box.text.startsWith(QStringLiteral("Confirma exclusão?")), qPrintable(box.text));
    }
};

QTEST_MAIN(TestFarServer)
#include "TestFarServer.moc"
