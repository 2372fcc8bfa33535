#include "TestSupport.h"

#include "DelayProxy.h"
#include "PostgresServer.h"
#include "app/MainWindow.h"
#include "contacts/ContactListModel.h"

#include <QLabel>
#include <QLineEdit>
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
        m_server->exec(m_url,
            QStringLiteral("INSERT INTO cada (a1, a4) VALUES ('MARIA APARECIDA', '(11)3000-0001'), "
                           "('MANUEL BANDEIRA', '(11)3000-0002'), ('MARCOS CARDOSO', '(11)3000-0003')"));
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
        WindowFixture desk;
        // The window's own budget, not the tests' generous one.
        ContactListModel::setWindowBudgetMs(ContactListModel::DefaultWindowBudgetMs);
        desk.setDatabaseUrl(QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2")
                                .arg(proxy.port())
                                .arg(m_url.section('/', 3).section('?', 0, 0)));
        QVERIFY(desk.start());
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
};

QTEST_MAIN(TestFarServer)
#include "TestFarServer.moc"
