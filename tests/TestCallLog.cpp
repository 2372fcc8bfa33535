#include "TestSupport.h"

#include "core/contacts/ContactListModel.h"

#include "PostgresServer.h"
#include "core/app/CallLogExport.h"
#include "core/callerid/LineSource.h"
#include "core/contacts/Register.h"
#include "core/platform/DataFiles.h"
#include "gui/app/CallListModel.h"
#include "gui/app/CallLog.h"
#include "gui/app/CallNotifier.h"
#include "gui/app/CallsWindow.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTest>

// The call log through the real window, on each backend: every call kept
// with the contact it was found as, the calls window's filters and picks, the
// calls that came while the attendant was elsewhere, and the log for scripts.
class TestCallLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fx;

    // A CSV read back by Python's csv module, an independent reader: its
    // rows as JSON arrays. False when python3 is not there.
    static bool readByPython(const QByteArray &csv, QJsonArray *rows)
    {
        QProcess python;
        python.start(QStringLiteral("python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import csv, json, sys; "
                               "print(json.dumps(list(csv.reader(sys.stdin.buffer.read().decode('utf-8')"
                               ".splitlines(True)))))") });
        if (!python.waitForStarted())
            return false;
        python.write(csv);
        python.closeWriteChannel();
        if (!python.waitForFinished(20000))
            qFatal("python3 did not finish reading the CSV");
        *rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        return true;
    }
    QString m_url;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }
    CallerIdControl *monitor() const { return m_fx->window()->callerId(); }
    Register &reg() const { return *m_fx->window()->contactRegister(); }

    // A window on this row's backend, with contacts in its register.
    bool startWindow(const QList<std::pair<QString, QString>> &contacts = {})
    {
        QFETCH_GLOBAL(QString, backend);
        m_fx = std::make_unique<WindowFixture>();
        if (backend == QLatin1String("postgresql")) {
            m_url = PostgresServer::shared(nullptr)->newDatabase();
            m_fx->setDatabaseUrl(m_url);
            const auto server = Register::open({}, m_url, Register::Patience::Background, nullptr);
            if (!server || !server->storeAreaCode(QStringLiteral("11"), nullptr))
                return false;
        }
        if (!m_fx->start())
            return false;
        for (const auto &[name, phone] : contacts) {
            qint64 code = 0;
            if (!reg().insert(m_fx->data().contact(name, phone), &code, nullptr))
                return false;
        }
        return true;
    }

    // SQL run on the register as another program would.
    void runSql(const QString &sql) const
    {
        if (m_url.isEmpty())
            m_fx->data().exec(DataFiles::Contacts, sql);
        else
            PostgresServer::shared(nullptr)->exec(m_url, sql);
    }

    void switchOn() { QVERIFY(m_fx->switchMonitorOn()); }

    QList<CallRecord> logged(int expected)
    {
        m_fx->window()->callLog()->flush();
        QList<CallRecord> rows;
        QString error;
        (void)QTest::qWaitFor(
            [&] {
                m_fx->window()->callLog()->flush();
                return reg().listCalls({}, 0, 100, &rows, &error) && rows.size() >= expected;
            },
            5000);
        return rows;
    }

    int callWithZunaCall(const QString &number) const
    {
        return m_fx->callWithZunaCall(QStringLiteral(ZUNA_BINARY), number);
    }

    CallsWindow *callsWindow() const { return m_fx->window()->callsWindow(); }
    QTableView *callsGrid() const { return callsWindow()->findChild<QTableView *>(QStringLiteral("gridChamadas")); }

    QStringList listedNumbers() const
    {
        QStringList numbers;
        for (int r = 0; r < callsWindow()->model()->rowCount(); ++r)
            numbers << callsWindow()->model()->call(r).laidOut;
        return numbers;
    }

    void pickInCallsWindow(int row)
    {
        const QModelIndex index = callsWindow()->model()->index(row, CallListModel::Number);
        const QPoint at = callsGrid()->visualRect(index).center();
        QTest::mouseClick(callsGrid()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(callsGrid()->viewport(), Qt::LeftButton, {}, at);
    }

private slots:
    void initTestCase_data() { RegisterFixture::addBackends(); }

    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (QString why; !RegisterFixture::available(backend, &why))
            QSKIP(qPrintable(why));
    }

    void cleanup()
    {
        m_fx.reset();
        m_url.clear();
    }

    void everyCallIsLoggedWithTheContactFoundOrNone()
    {
        QVERIFY(startWindow({ { QStringLiteral("Ana Lúcia"), QStringLiteral("(11) 3333-4444") } }));
        switchOn();
        QCOMPARE(callWithZunaCall(QStringLiteral("1133334444")), 0);
        QTRY_COMPARE(edit("A1")->text(), QStringLiteral("Ana Lúcia"));
        QCOMPARE(callWithZunaCall(QStringLiteral("21999988888")), 0);
        QTRY_COMPARE(edit("Text1")->text(), QStringLiteral("(21)99998-8888"));
        monitor()->reportText(QStringLiteral("Número restrito"));

        const QList<CallRecord> calls = logged(3);
        QCOMPARE(calls.size(), 3);
        const CallRecord &withheld = calls.at(0), &unknown = calls.at(1), &ana = calls.at(2);
        QCOMPARE(ana.kind, CallRecord::Kind::Number);
        QCOMPARE(ana.received, QStringLiteral("1133334444"));
        QCOMPARE(ana.key, QStringLiteral("1133334444"));
        QCOMPARE(ana.laidOut, QStringLiteral("(11)3333-4444"));
        QCOMPARE(ana.contactName, QStringLiteral("Ana Lúcia"));
        QVERIFY(ana.contactCode > 0);
        QCOMPARE(ana.source, QStringLiteral("socket"));
        QVERIFY(ana.line.endsWith(DataFiles::CallSocket));
        QVERIFY(qAbs(ana.when.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(unknown.key, QStringLiteral("21999988888"));
        QCOMPARE(unknown.contactCode, 0);
        QCOMPARE(unknown.contactName, QString());
        QCOMPARE(withheld.kind, CallRecord::Kind::Withheld);
        QCOMPARE(withheld.key, QString());
        QCOMPARE(withheld.laidOut, QStringLiteral("Número restrito"));
    }

    void aCallRecordedJustBeforeTheEndIsKept()
    {
        // The program ends within the moment the log waits to gather calls.
        REGISTER_FIXTURE(fx);
        CallRecord call;
        call.when = QDateTime::currentDateTime();
        call.received = call.key = QStringLiteral("1133334444");
        call.laidOut = QStringLiteral("(11)3333-4444");
        {
            CallLog log(fx.data().path(), QString());
            log.record(call, true);
        }
        QList<CallRecord> rows;
        QString error;
        QVERIFY2(fx.reg().listCalls({}, 0, 10, &rows, &error), qPrintable(error));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).key, call.key);
    }

    void aCallIsLoggedWhileAMessageBoxIsOpen()
    {
        QVERIFY(startWindow({ { QStringLiteral("Beto"), QStringLiteral("(11)3333-5555") } }));
        switchOn();
        // The call comes while the attendant has a notice open (a nested
        // event loop, as a modal box runs).
        struct CallDuringBox : RecordingMessageBoxes
        {
            CallerIdControl *monitor = nullptr;
            bool reported = false;
            Answer show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons b) override
            {
                QTimer::singleShot(0, monitor, [this] {
                    monitor->reportNumber(QStringLiteral("1133335555"));
                    reported = true;
                });
                // The box's own loop runs until the call has come.
                (void)QTest::qWaitFor([this] { return reported; }, 5000);
                return RecordingMessageBoxes::show(parent, icon, title, text, b);
            }
        } boxes;
        boxes.monitor = monitor();
        m_fx->window()->saveContact(); // no name: a notice
        QCOMPARE(boxes.shown.size(), 1);
        const QList<CallRecord> calls = logged(1);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().contactName, QStringLiteral("Beto"));
    }

    void aCallIsShownEvenWhenItCannotBeLogged()
    {
        QVERIFY(startWindow({ { QStringLiteral("Caio"), QStringLiteral("(11)3333-6666") } }));
        switchOn();
        // A log that cannot take the call: a table of another shape.
        runSql(QStringLiteral("DROP TABLE chamadas"));
        runSql(QStringLiteral("CREATE TABLE chamadas (x INTEGER)"));
        monitor()->reportNumber(QStringLiteral("1133336666"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Caio"));
        auto *status = m_fx->control<QLabel>("statusLinha");
        QTRY_VERIFY(status->isVisible() && status->toolTip().contains(QStringLiteral("não registrada")));
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    void theCallsWindowFiltersAndHandsACallOver()
    {
        QVERIFY(startWindow({ { QStringLiteral("Débora Conceição"), QStringLiteral("(11)98765-4321") } }));
        switchOn();
        CallRecord yesterday;
        yesterday.when = QDateTime::currentDateTime().addDays(-1);
        yesterday.key = yesterday.received = QStringLiteral("1140041234");
        yesterday.laidOut = QStringLiteral("(11)4004-1234");
        QVERIFY(reg().logCall(&yesterday, nullptr));
        monitor()->reportNumber(QStringLiteral("11987654321"));
        logged(2);
        monitor()->reportNumber(QStringLiteral("21955554444"), QStringLiteral("JOSÉ DA SILVA")); // a name from the line
        logged(3);

        QTest::keyClick(edit("Text1"), Qt::Key_F4);
        QTRY_VERIFY(callsWindow()->isVisible());
        QCOMPARE(listedNumbers(),
            QStringList({ QStringLiteral("(21)95555-4444"), QStringLiteral("(11)98765-4321"),
                QStringLiteral("(11)4004-1234") }));
        auto *today = callsWindow()->findChild<QCheckBox *>(QStringLiteral("hoje"));
        auto *unknownOnly = callsWindow()->findChild<QCheckBox *>(QStringLiteral("naoCadastrados"));
        auto *text = callsWindow()->findChild<QLineEdit *>(QStringLiteral("filtroChamadas"));
        today->setChecked(true);
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(21)95555-4444"), QStringLiteral("(11)98765-4321") }));
        unknownOnly->setChecked(true);
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(21)95555-4444") }));
        today->setChecked(false);
        unknownOnly->setChecked(false);
        QTest::keyClicks(text, QStringLiteral("conceicao"));
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(11)98765-4321") }));
        text->setText(QStringLiteral("jose da"));
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(21)95555-4444") }));
        QCOMPARE(
            callsWindow()->model()->index(0, CallListModel::Name).data().toString(), QStringLiteral("“JOSÉ DA SILVA”"));
        text->setText(QStringLiteral("4004 1234"));
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(11)4004-1234") }));
        text->clear();

        // A caller in the register: the contact, ready to edit.
        m_fx->window()->clearForm();
        pickInCallsWindow(1);
        QCOMPARE(edit("A1")->text(), QStringLiteral("Débora Conceição"));
        QVERIFY(!m_fx->control<QLabel>("CD")->text().isEmpty());

        // An unknown caller: an empty form with the number, ready to register;
        // Enter does what the double click does.
        callsWindow()->showLog();
        callsGrid()->setCurrentIndex(callsWindow()->model()->index(0, CallListModel::Number));
        QTest::keyClick(callsGrid(), Qt::Key_Return);
        QCOMPARE(edit("A1")->text(), QString());
        QCOMPARE(edit("A4")->text(), QStringLiteral("(21)95555-4444"));
        QCOMPARE(m_fx->control<QLabel>("CD")->text(), QString());
    }

    void aFilterThatTakesLongGoesOnInTheBackground()
    {
        QVERIFY(startWindow({}));
        for (int i = 0; i < 250; ++i) {
            CallRecord call;
            call.when = QDateTime::currentDateTime().addSecs(-3600 + i);
            call.key = call.received = QStringLiteral("113300%1").arg(i, 4, 10, QLatin1Char('0'));
            call.laidOut = QStringLiteral("(11)3300-%1").arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(reg().logCall(&call, nullptr));
        }
        ContactListModel::setWindowBudgetMs(0); // every page is read in the background
        QTest::keyClick(edit("Text1"), Qt::Key_F4);
        QTRY_VERIFY(callsWindow()->isVisible());
        CallListModel *model = callsWindow()->model();
        auto *notice = callsWindow()->findChild<QLabel *>(QStringLiteral("avisoChamadas"));
        QTRY_COMPARE(model->rowCount(), CallListModel::PageSize);
        QVERIFY(!model->isSearching());
        QVERIFY(!notice->isVisible());
        // Scrolling reads the next pages in the background too.
        while (model->canFetchMore() || model->isSearching()) {
            callsGrid()->scrollToBottom();
            QTRY_VERIFY(!model->isSearching());
        }
        QCOMPARE(model->rowCount(), 250);
        QCOMPARE(model->call(249).laidOut, QStringLiteral("(11)3300-0000"));

        // Each key stops the read before it: only the last text's calls show.
        auto *text = callsWindow()->findChild<QLineEdit *>(QStringLiteral("filtroChamadas"));
        QTest::keyClicks(text, QStringLiteral("3300 0201"));
        QTRY_VERIFY(!model->isSearching());
        QCOMPARE(listedNumbers(), QStringList({ QStringLiteral("(11)3300-0201") }));
        QVERIFY(!notice->isVisible());
    }

    void callsThatCameWhileTheAttendantWasElsewhereAreNewUntilSeen()
    {
        QVERIFY(startWindow());
        switchOn();
        // The attendant is in another window.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        monitor()->reportNumber(QStringLiteral("1133337777"));
        logged(1);
        monitor()->reportNumber(QStringLiteral("1133338888"));
        logged(2);
        QTRY_COMPARE(m_fx->window()->callLog()->newCalls(), 2);
        QCOMPARE(m_fx->window()->notifier()->newCalls(), 2);

        callsWindow()->showLog();
        QVERIFY(QTest::qWaitForWindowActive(callsWindow()));
        QTRY_COMPARE(m_fx->window()->callLog()->newCalls(), 0);
        QCOMPARE(m_fx->window()->notifier()->newCalls(), 0);
        const QAbstractItemModel *model = callsWindow()->model();
        QCOMPARE(model->index(0, CallListModel::New).data().toString(), QStringLiteral("nova"));
        QCOMPARE(model->index(1, CallListModel::New).data().toString(), QStringLiteral("nova"));

        // A call while the attendant looks at the log is not new.
        monitor()->reportNumber(QStringLiteral("1133339999"));
        logged(3);
        QTRY_COMPARE(callsWindow()->model()->rowCount(), 3);
        QCOMPARE(m_fx->window()->callLog()->newCalls(), 0);
    }

    void theLogForScriptsReadsBackAsCsv()
    {
        QVERIFY(startWindow());
        CallRecord a, b;
        a.when = QDateTime(QDate(2026, 11, 30), QTime(8, 0, 1));
        a.key = a.received = QStringLiteral("1133334444");
        a.laidOut = QStringLiteral("(11)3333-4444");
        a.contactCode = 12;
        a.contactName = QStringLiteral("Pizzaria \"Boa\", Centro\nfilial");
        b.when = QDateTime(QDate(2026, 12, 2), QTime(19, 45, 0));
        b.kind = CallRecord::Kind::Withheld;
        b.laidOut = QStringLiteral("Número restrito");
        QVERIFY(reg().logCall(&a, nullptr) && reg().logCall(&b, nullptr));

        QProcess zuna;
        QStringList arguments = { QStringLiteral("--chamadas"), QStringLiteral("--csv") };
        if (m_url.isEmpty())
            arguments << QStringLiteral("--data-dir") << m_fx->data().path();
        else
            arguments << QStringLiteral("--database") << m_url;
        zuna.start(QStringLiteral(ZUNA_BINARY), arguments);
        QVERIFY(zuna.waitForFinished(20000));
        QCOMPARE(zuna.exitCode(), 0);
        const QByteArray csv = zuna.readAllStandardOutput();

        // Read back by Python's csv module, an independent reader.
        QJsonArray rows;
        if (!readByPython(csv, &rows))
            QSKIP("python3 is not installed");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0).toArray().size(), CallLogExport::CsvHeader.count(QLatin1Char(',')) + 1);
        const QJsonArray first = rows.at(1).toArray(), second = rows.at(2).toArray();
        QCOMPARE(first.at(0).toString(), QStringLiteral("2026-11-30"));
        QCOMPARE(first.at(1).toString(), QStringLiteral("08:00:01"));
        QCOMPARE(first.at(2).toString(), QStringLiteral("(11)3333-4444"));
        QCOMPARE(first.at(9).toString(), QStringLiteral("12"));
        QCOMPARE(first.at(10).toString(), QStringLiteral("Pizzaria \"Boa\", Centro\nfilial"));
        QCOMPARE(second.at(5).toString(), QStringLiteral("restrito"));
        QCOMPARE(second.at(2).toString(), QStringLiteral("Número restrito"));

        // From a day on.
        arguments << QStringLiteral("--desde") << QStringLiteral("2026-12-01");
        zuna.start(QStringLiteral(ZUNA_BINARY), arguments);
        QVERIFY(zuna.waitForFinished(20000));
        QCOMPARE(zuna.readAllStandardOutput().count("\r\n"), 2);
    }

    void aNameLoggedAsItCameIsShownCleanAndApart()
    {
        QVERIFY(startWindow());
        // A call logged before names were cleaned where they enter.
        CallRecord c;
        c.when = QDateTime::currentDateTime();
        c.key = c.received = QStringLiteral("2122223333");
        c.laidOut = QStringLiteral("(21)2222-3333");
        const QString braille = QString(40, QChar(0x2800));
        c.callerName = braille + QStringLiteral("1133334444 · MARIA\u202E DA SILVA\n<br>") + braille;
        QVERIFY(reg().logCall(&c, nullptr));
        QTest::keyClick(edit("Text1"), Qt::Key_F4);
        QTRY_VERIFY(callsWindow()->isVisible());
        QTRY_COMPARE(callsWindow()->model()->rowCount(), 1);
        QCOMPARE(
            callsWindow()->model()->index(0, CallListModel::Number).data().toString(), QStringLiteral("(21)2222-3333"));
        QCOMPARE(callsWindow()->model()->index(0, CallListModel::Name).data().toString(),
            QStringLiteral("“1133334444 · MARIA DA SILVA <br>”"));
    }

    void theLogForScriptsCannotBeTurnedAgainstItsReader()
    {
        QVERIFY(startWindow());
        CallRecord c;
        c.when = QDateTime(QDate(2026, 12, 1), QTime(9, 0, 0));
        c.received = QStringLiteral("+551133334444");
        c.key = QStringLiteral("1133334444");
        c.laidOut = QStringLiteral("(11)3333-4444");
        c.callerName = QStringLiteral("\x1b[2J\x1b]0;pwned\x07=HYPERLINK(\"http://x\",\"clique\")\u202E");
        c.source = QStringLiteral("@SUM(1+1)");
        c.line = QStringLiteral("-2+3+cmd|' /C calc'!A0");
        QVERIFY(reg().logCall(&c, nullptr));
        CallRecord d = c;
        d.callerName = QStringLiteral("=1+1");
        d.line = QStringLiteral("\tLINHA");
        d.received = QStringLiteral("-1133334444");
        QVERIFY(reg().logCall(&d, nullptr));

        QStringList arguments = { QStringLiteral("--chamadas") };
        if (m_url.isEmpty())
            arguments << QStringLiteral("--data-dir") << m_fx->data().path();
        else
            arguments << QStringLiteral("--database") << m_url;
        QProcess zuna;
        zuna.start(QStringLiteral(ZUNA_BINARY), arguments);
        QVERIFY(zuna.waitForFinished(20000));
        const QString text = QString::fromUtf8(zuna.readAllStandardOutput());
        // For a terminal: nothing it would act on, the name still legible.
        for (const QChar c : text)
            QVERIFY2(c == u'\n' || (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format),
                qPrintable(QString::number(c.unicode(), 16)));
        QVERIFY2(text.contains(QStringLiteral("\\x1b[2J\\x1b]0;pwned\\x07=HYPERLINK(")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("\\u{202e}")), qPrintable(text));

        zuna.start(QStringLiteral(ZUNA_BINARY), arguments << QStringLiteral("--csv"));
        QVERIFY(zuna.waitForFinished(20000));
        const QByteArray csv = zuna.readAllStandardOutput();
        QVERIFY(!csv.contains('\x1b'));
        QJsonArray rows;
        if (!readByPython(csv, &rows))
            QSKIP("python3 is not installed");
        QCOMPARE(rows.size(), 3);
        // No cell starts a formula; numbers as written stay readable.
        for (qsizetype r = 1; r < rows.size(); ++r) {
            for (const QJsonValue &cell : rows.at(r).toArray()) {
                const QString value = cell.toString();
                QVERIFY2(value.isEmpty() || !QStringLiteral("=@\t\r").contains(value.at(0)) || value.startsWith(u'+')
                        || value.startsWith(u'-'),
                    qPrintable(value));
            }
        }
        const QJsonArray first = rows.at(1).toArray(), second = rows.at(2).toArray();
        QCOMPARE(first.at(3).toString(), QStringLiteral("+551133334444"));
        QCOMPARE(first.at(6).toString(),
            QStringLiteral("\\x1b[2J\\x1b]0;pwned\\x07=HYPERLINK(\"http://x\",\"clique\")\\u{202e}"));
        QCOMPARE(first.at(7).toString(), QStringLiteral("'@SUM(1+1)"));
        QCOMPARE(first.at(8).toString(), QStringLiteral("'-2+3+cmd|' /C calc'!A0"));
        QCOMPARE(second.at(3).toString(), QStringLiteral("-1133334444"));
        QCOMPARE(second.at(6).toString(), QStringLiteral("'=1+1"));
        QCOMPARE(second.at(8).toString(), QStringLiteral("'\tLINHA"));
    }
};

QTEST_MAIN(TestCallLog)
#include "TestCallLog.moc"
