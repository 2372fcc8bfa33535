#include "PostgresServer.h"
#include "TestSupport.h"

#include "core/callerid/LineSource.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

// What arrives from outside while the attendant is busy (a call, another
// desk's save) never changes what the attendant is typing or asking about:
// through the real window, with the questions answered by the test while
// they are open, as events arrive under a real modal box.
class TestCallMoment : public QObject
{
    Q_OBJECT

    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    std::unique_ptr<WindowFixture> m_fx;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }
    QTableView *grid() const { return m_fx->control<QTableView>("DBGrid1"); }
    QString cd() const { return m_fx->control<QLabel>("CD")->text(); }
    QLabel *waiting() const { return m_fx->control<QLabel>("chamadaEmEspera"); }
    CallerIdControl *monitor() const { return m_fx->window()->callerId(); }
    Register &reg() const { return *m_fx->window()->contactRegister(); }

    qint64 add(const QString &name, const QString &phone)
    {
        return m_fx->data().addContact(m_fx->data().contact(name, phone));
    }

    std::optional<ContactRecord> stored(qint64 code) const
    {
        std::optional<ContactRecord> r;
        reg().findByCode(code, &r, nullptr);
        return r;
    }

    void start()
    {
        QVERIFY(m_fx->start());
        QVERIFY(m_fx->switchMonitorOn());
    }

    void pick(int row)
    {
        const QRect rect = grid()->visualRect(grid()->model()->index(row, ContactListModel::Name));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void typeInto(const char *name, const QString &text)
    {
        edit(name)->setFocus();
        QTest::keyClicks(edit(name), text);
    }

    void save() { m_fx->control<QPushButton>("Command4")->click(); }

    QStringList asked() const
    {
        QStringList texts;
        for (const auto &box : m_boxes->shown)
            texts << box.text;
        return texts;
    }

    static bool isYellow(QLineEdit *field) { return field->palette().color(QPalette::Base) == QColor(255, 255, 192); }

private slots:
    void init()
    {
        m_boxes = std::make_unique<RecordingMessageBoxes>();
        m_fx = std::make_unique<WindowFixture>();
    }
    void cleanup()
    {
        m_fx.reset();
        m_boxes.reset();
    }

    void aCallDuringTheDeleteQuestionLeavesTheAnswerToTheContactAskedAbout_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Sim") << true;
        QTest::newRow("Não") << false;
    }
    void aCallDuringTheDeleteQuestionLeavesTheAnswerToTheContactAskedAbout()
    {
        QFETCH(bool, yes);
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        const qint64 bia = add(QStringLiteral("Bia"), QStringLiteral("(11)3333-5555"));
        start();
        pick(0);
        QCOMPARE(cd(), QString::number(ana));
        m_boxes->answers = { yes ? MessageBoxes::Answer::Yes : MessageBoxes::Answer::No };
        m_boxes->whileOpen = [this] { monitor()->reportNumber(QStringLiteral("1133335555")); };
        m_fx->control<QPushButton>("Command6")->click();

        QCOMPARE(asked().value(0), QStringLiteral("Confirma exclusão?\n\nAna")); // says whom it is about
        QCOMPARE(stored(ana).has_value(), !yes);
        QVERIFY(stored(bia).has_value());
        // The call comes in once the answer has acted.
        QTRY_COMPARE(edit("A1")->text(), QStringLiteral("Bia"));
        QCOMPARE(cd(), QString::number(bia));
        QVERIFY(waiting()->isHidden());
    }

    void aCallWaitsWhileANewContactIsTyped_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("caller");
        QTest::newRow("known caller") << "1133335555"
                                      << "Bia";
        QTest::newRow("unknown caller") << "21999988888"
                                        << "";
    }
    void aCallWaitsWhileANewContactIsTyped()
    {
        QFETCH(QString, number);
        QFETCH(QString, caller);
        const qint64 bia = add(QStringLiteral("Bia"), QStringLiteral("(11)3333-5555"));
        start();
        typeInto("A4", QStringLiteral("1144440000"));
        typeInto("A1", QStringLiteral("Carla Nova"));
        typeInto("A9", QStringLiteral("Rua C, 3"));
        monitor()->reportNumber(number);

        QCOMPARE(edit("A1")->text(), QStringLiteral("Carla Nova"));
        QCOMPARE(edit("A9")->text(), QStringLiteral("Rua C, 3"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("(11)4444-0000"));
        QCOMPARE(cd(), QString());
        QVERIFY(waiting()->isVisible());
        QVERIFY(waiting()->toolTip().contains(caller));
        QVERIFY(monitor()->text().contains(caller));

        // Typing goes on into the form, and the save stores it as typed.
        typeInto("A12", QStringLiteral("Campinas"));
        save();
        QCOMPARE(asked(), QStringList { QStringLiteral("Operação realizada com sucesso.") });
        QCOMPARE(stored(bia)->a12, QStringLiteral("São Paulo"));
        const qint64 carla = bia + 1;
        QCOMPARE(stored(carla)->a1, QStringLiteral("Carla Nova"));
        QCOMPARE(stored(carla)->a12, QStringLiteral("Campinas"));

        // Then the call comes in by itself.
        QTRY_VERIFY(waiting()->isHidden());
        QCOMPARE(edit("A1")->text(), caller);
        QCOMPARE(cd(), caller.isEmpty() ? QString() : QString::number(bia));
        QCOMPARE(edit("A4")->text(), edit("Text1")->text());
        QVERIFY(!edit("Text1")->text().isEmpty());
    }

    void aCallWaitsWhileALoadedContactIsEditedAndF5BringsItIn()
    {
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        const qint64 bia = add(QStringLiteral("Bia"), QStringLiteral("(11)3333-5555"));
        start();
        pick(0);
        edit("A12")->clear();
        typeInto("A12", QStringLiteral("Santos"));
        monitor()->reportNumber(QStringLiteral("1133335555"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(edit("A12")->text(), QStringLiteral("Santos"));
        QCOMPARE(cd(), QString::number(ana));

        // F5 asks before it puts away what was typed; No keeps everything.
        m_boxes->answers = { MessageBoxes::Answer::No };
        QTest::keyClick(edit("A12"), Qt::Key_F5);
        QCOMPARE(asked().size(), 1);
        QCOMPARE(edit("A12")->text(), QStringLiteral("Santos"));
        QVERIFY(waiting()->isVisible());

        m_boxes->answers = { MessageBoxes::Answer::Yes };
        QTest::keyClick(edit("A12"), Qt::Key_F5);
        QCOMPARE(edit("A1")->text(), QStringLiteral("Bia"));
        QCOMPARE(cd(), QString::number(bia));
        QVERIFY(waiting()->isHidden());
        QCOMPARE(stored(ana)->a12, QStringLiteral("São Paulo")); // nothing was saved
    }

    void aCallDuringTheEscQuestionWaits()
    {
        add(QStringLiteral("Bia"), QStringLiteral("(11)3333-5555"));
        start();
        typeInto("A1", QStringLiteral("Carla"));
        m_boxes->answers = { MessageBoxes::Answer::No };
        m_boxes->whileOpen = [this] { monitor()->reportNumber(QStringLiteral("1133335555")); };
        QTest::keyClick(edit("A1"), Qt::Key_Escape);
        QCOMPARE(asked(), QStringList { QStringLiteral("Sair sem gravar?") });
        QVERIFY(m_fx->endedWith.isEmpty());
        QCoreApplication::processEvents(); // what the call left queued runs
        QCOMPARE(edit("A1")->text(), QStringLiteral("Carla"));
        QVERIFY(waiting()->isVisible());
    }

    void aCallDuringTheConflictQuestionLeavesTheAnswerToTheContactAskedAbout()
    {
        const qint64 ana = add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        const qint64 bia = add(QStringLiteral("Bia"), QStringLiteral("(11)3333-5555"));
        start();
        pick(0);
        m_fx->data().exec(
            QStringLiteral("cada.sqlite"), QStringLiteral("UPDATE CADA SET A9 = 'Rua Outra' WHERE CD = %1").arg(ana));
        edit("A12")->clear();
        typeInto("A12", QStringLiteral("Santos"));
        m_boxes->answers = { MessageBoxes::Answer::Yes };
        m_boxes->whileOpen = [this] { monitor()->reportNumber(QStringLiteral("1133335555")); };
        save();
        QVERIFY(asked().value(0).startsWith(QStringLiteral("Este contato foi alterado em outro atendimento")));
        QCOMPARE(stored(ana)->a12, QStringLiteral("Santos"));
        QCOMPARE(stored(ana)->a9, QStringLiteral("Rua Ana, 10"));
        QCOMPARE(stored(bia)->a12, QStringLiteral("São Paulo"));
        QTRY_COMPARE(edit("A1")->text(), QStringLiteral("Bia"));
    }

    void aCallWithoutANumberTakesThePreviousCallerOffTheForm()
    {
        add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        start();
        monitor()->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        const QString withheld = LineSource::textFor(CallerIdMessage::Kind::Withheld);
        monitor()->reportText(withheld);
        QCOMPARE(monitor()->text(), withheld);
        for (const char *name : { "Text1", "A1", "A4", "A9", "A12" })
            QCOMPARE(edit(name)->text(), QString());
        QCOMPARE(cd(), QString());

        // While a contact is being typed the form stays, and the call waits.
        typeInto("A1", QStringLiteral("Carla"));
        monitor()->reportText(withheld);
        QCOMPARE(edit("A1")->text(), QStringLiteral("Carla"));
        QVERIFY(waiting()->isVisible());
    }

    void escAsksOnlyWhenSomethingIsUnsaved()
    {
        start();
        typeInto("A4", QStringLiteral("1144440000"));
        typeInto("A1", QStringLiteral("Carla"));
        save();
        QTest::keyClick(edit("A1"), Qt::Key_Escape);
        QCOMPARE(asked(), QStringList { QStringLiteral("Operação realizada com sucesso.") });
        QCOMPARE(m_fx->endedWith, QList<int> { 0 });
    }

    void onlyTheFieldTheAttendantIsInIsHighlighted()
    {
        add(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        start();
        QApplication::setActiveWindow(m_fx->window());
        edit("Text1")->setFocus();
        QVERIFY(isYellow(edit("Text1")));
        // Away in the calls window, a call picked there loads its contact.
        m_fx->window()->openCalls();
        QVERIFY(QTest::qWaitForWindowActive(reinterpret_cast<QWidget *>(m_fx->window()->callsWindow())));
        CallRecord call;
        call.kind = CallRecord::Kind::Number;
        call.laidOut = QStringLiteral("(11)3333-4444");
        call.contactCode = 1;
        m_fx->window()->loadCall(call);
        QTRY_VERIFY(QApplication::activeWindow() == m_fx->window());
        QTRY_VERIFY(isYellow(edit("A1")));
        int yellow = 0;
        for (auto *field : m_fx->window()->findChildren<QLineEdit *>())
            yellow += isYellow(field) ? 1 : 0;
        QCOMPARE(yellow, 1);
    }

    void f1WithoutAnAreaCodeSaysTheMonitorStaysOn()
    {
        start();
        edit("Text11")->clear();
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QVERIFY(monitor()->isActive());
        QCOMPARE(monitor()->text(), QStringLiteral("DDD local não informado"));
        QCOMPARE(
            m_fx->control<QLabel>("statusLinha")->toolTip(), QStringLiteral("Monitor continua ligado com o DDD 11."));
    }

    void aNumberTypedByHandIsNeverLaidOutAsAnotherOnTheWay()
    {
        QVERIFY(m_fx->start());
        auto *text1 = edit("Text1");
        text1->setFocus();
        QStringList seen;
        for (const QChar c : QStringLiteral("08007771234")) {
            QTest::keyClick(text1, c.toLatin1());
            seen << text1->text();
        }
        QCOMPARE(seen.constLast(), QStringLiteral("0800 777 1234"));
        for (const QString &text : std::as_const(seen))
            QVERIFY2(text.startsWith(u'0'), qPrintable(text));
    }

    void anotherDesksWritesKeepThisDesksSearchAndRow()
    {
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase();
        m_fx->setDatabaseUrl(url);
        QVERIFY(m_fx->start());
        const auto other = Register::open({}, url, Register::Patience::Background, nullptr);
        QVERIFY(other);
        QList<qint64> brunos;
        for (int i = 0; i < 100; ++i) {
            qint64 code = 0;
            const QString name = i % 10 == 0 ? QStringLiteral("Bruno %1").arg(i, 2, 10, QLatin1Char('0'))
                                             : QStringLiteral("Outro %1").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(
                other->insert(m_fx->data().contact(name, QStringLiteral("(11)3333-%1").arg(1000 + i)), &code, nullptr));
            if (i % 10 == 0)
                brunos << code;
        }
        typeInto("A1", QStringLiteral("Bruno"));
        auto *model = m_fx->window()->contactList();
        QTRY_COMPARE(model->rowCount(), 10);
        grid()->setCurrentIndex(model->index(6, ContactListModel::Name));
        const qint64 current = model->codeAt(6);

        // Another desk adds a Bruno that sorts first, deletes another, and
        // adds someone this search does not list.
        qint64 code = 0;
        QVERIFY(other->insert(
            m_fx->data().contact(QStringLiteral("Bruno 00 A"), QStringLiteral("(11)4444-0001")), &code, nullptr));
        QVERIFY(other->insert(
            m_fx->data().contact(QStringLiteral("Aaron"), QStringLiteral("(11)4444-0002")), &code, nullptr));
        QVERIFY(other->remove(brunos.at(9), nullptr));

        QTRY_COMPARE(m_fx->control<QLabel>("NXR")->text(), QStringLiteral("101"));
        QTRY_COMPARE(model->rowCount(), 10);
        QCOMPARE(edit("A1")->text(), QStringLiteral("Bruno"));
        QCOMPARE(model->data(model->index(1, ContactListModel::Name)).toString(), QStringLiteral("Bruno 00 A"));
        for (int row = 0; row < model->rowCount(); ++row)
            QVERIFY(
                model->data(model->index(row, ContactListModel::Name)).toString().startsWith(QStringLiteral("Bruno")));
        QCOMPARE(model->codeAt(grid()->currentIndex().row()), current);
    }
};

QTEST_MAIN(TestCallMoment)
#include "TestCallMoment.moc"
