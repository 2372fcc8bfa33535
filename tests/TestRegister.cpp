#include "TestSupport.h"

#include "core/contacts/ContactListModel.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "gui/app/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

// The register at work, driven through the real window: search, pick, save,
// delete and clear.
class TestRegister : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fx;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }
    QTableView *grid() const { return m_fx->control<QTableView>("DBGrid1"); }
    QString cd() const { return m_fx->control<QLabel>("CD")->text(); }
    QString nxr() const { return m_fx->control<QLabel>("NXR")->text(); }

    QStringList listedNames() const
    {
        QStringList names;
        auto *model = qobject_cast<ContactListModel *>(grid()->model());
        // Pages read in the background arrive through the event loop.
        (void)QTest::qWaitFor(
            [&] {
                if (model->canFetchMore({}))
                    model->fetchMore({});
                return !model->canFetchMore({}) && !model->isSearching();
            },
            10000);
        for (int r = 0; r < model->rowCount(); ++r)
            names << model->index(r, ContactListModel::Name).data().toString();
        return names;
    }

    qint64 add(const QString &name, const QString &phone = QStringLiteral("(11)1111-1111"))
    {
        return m_fx->data().addContact(m_fx->data().contact(name, phone));
    }

    qint64 storedCount() const
    {
        qint64 n = -1;
        SqliteRegister(m_fx->data().file(QStringLiteral("cada.sqlite"))).count(&n, nullptr);
        return n;
    }

    std::optional<ContactRecord> stored(qint64 code) const
    {
        std::optional<ContactRecord> r;
        SqliteRegister(m_fx->data().file(QStringLiteral("cada.sqlite"))).findByCode(code, &r, nullptr);
        return r;
    }

    void doubleClickRow(int row)
    {
        const QRect rect = grid()->visualRect(grid()->model()->index(row, ContactListModel::Name));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    QStringList shownTexts() const
    {
        QStringList texts;
        for (const auto &s : m_boxes->shown)
            texts << s.text;
        return texts;
    }

    void typeContact(const QString &name, const QString &phone)
    {
        edit("A1")->setText(name);
        edit("A4")->setText(phone);
        edit("A9")->setText(QStringLiteral("Rua Nova, 1"));
        m_fx->control<QPlainTextEdit>("OB")->setPlainText(QStringLiteral("entregar\nà tarde"));
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

    // --- name search

    void nameSearchMatchesTheBeginningOfTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty lists everyone")
            << ""
            << QStringList { "50% Pizza", "500 Pizzas", "[Loja] X", "Ana Jorge", "Ana_Maria", "Anabela", "D'Ávila",
                   "Érica", "erica", "Joana", "JOÃO PEDRO", "João Silva", "Jorge Amado" };
        QTest::newRow("lower case") << "jo" << QStringList { "Joana", "JOÃO PEDRO", "João Silva", "Jorge Amado" };
        QTest::newRow("upper case") << "JO" << QStringList { "Joana", "JOÃO PEDRO", "João Silva", "Jorge Amado" };
        QTest::newRow("accented lower finds upper") << "joã" << QStringList { "JOÃO PEDRO", "João Silva" };
        QTest::newRow("accented upper") << "ÉR" << QStringList { "Érica" };
        QTest::newRow("star") << "*jorge" << QStringList { "Ana Jorge", "Jorge Amado" };
        QTest::newRow("question mark") << "jo?o " << QStringList { "JOÃO PEDRO", "João Silva" };
        QTest::newRow("hash is a digit") << "#0" << QStringList { "50% Pizza", "500 Pizzas" };
        QTest::newRow("percent is literal") << "50%" << QStringList { "50% Pizza" };
        QTest::newRow("underscore is literal") << "ana_" << QStringList { "Ana_Maria" };
        QTest::newRow("quote") << "d'" << QStringList { "D'Ávila" };
        QTest::newRow("bracket") << "[l" << QStringList { "[Loja] X" };
        QTest::newRow("no match") << "xyz" << QStringList {};
    }
    void nameSearchMatchesTheBeginningOfTheName()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        for (const char *name : { "João Silva", "JOÃO PEDRO", "Jorge Amado", "Ana Jorge", "Joana", "50% Pizza",
                 "500 Pizzas", "D'Ávila", "[Loja] X", "Ana_Maria", "Anabela", "Érica", "erica" })
            add(QString::fromUtf8(name));
        QVERIFY(m_fx->start());
        auto *a1 = edit("A1");
        a1->setFocus();
        // One key at a time, as the attendant types (keyClicks knows only ASCII).
        for (const QChar c : typed)
            QTest::sendKeyEvent(QTest::Click, a1, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(a1->text(), typed);
        QCOMPARE(listedNames(), expected);
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    void aSearchThatTakesLongGoesOnInTheBackground()
    {
        for (int i = 0; i < 150; ++i)
            add(QStringLiteral("Cliente %1 %2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 3 ? "Silva" : "Santos"));
        QVERIFY(m_fx->start());
        ContactListModel::setWindowBudgetMs(0); // every page is read in the background
        auto *a1 = edit("A1");
        a1->setFocus();
        QTest::keyClicks(a1, QStringLiteral("*silva"));
        const QStringList silva = listedNames();
        QCOMPARE(silva.size(), 100);
        QCOMPARE(silva.first(), QStringLiteral("Cliente 001 Silva"));
        QCOMPARE(grid()->currentIndex().row(), 0);

        // Each key supersedes the search before it: only the last one shows.
        a1->clear();
        QTest::keyClicks(a1, QStringLiteral("*santos"));
        QVERIFY(grid()->model()->rowCount() <= ContactListModel::PageSize);
        const QStringList santos = listedNames();
        QCOMPARE(santos.size(), 50);
        QVERIFY(std::all_of(
            santos.cbegin(), santos.cend(), [](const QString &n) { return n.endsWith(QLatin1String("Santos")); }));
        doubleClickRow(0);
        QCOMPARE(edit("A1")->text(), QStringLiteral("Cliente 000 Santos"));
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    void theSearchPagesThroughLongLists()
    {
        for (int i = 0; i < 600; ++i)
            add(QStringLiteral("Maria %1").arg(i, 3, 10, QLatin1Char('0')));
        add(QStringLiteral("Mariza"));
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("mar"));
        QCOMPARE(grid()->model()->rowCount(), ContactListModel::PageSize); // the rest comes as the grid scrolls
        const QStringList names = listedNames();
        QCOMPARE(names.size(), 601);
        QCOMPARE(names.first(), QStringLiteral("Maria 000"));
        QCOMPARE(names.last(), QStringLiteral("Mariza"));
    }

    // --- a register another program holds busy

    void aBusyRegisterIsWaitedForAndNothingTypedIsLost()
    {
        add(QStringLiteral("Ana"));
        const qint64 bia = add(QStringLiteral("Bia"));
        QVERIFY(m_fx->start());
        auto *notice = m_fx->control<QLabel>("avisoCadastro");
        QVERIFY(!notice->isVisible());
        auto holder = std::make_unique<SqlConnection>(m_fx->data().file(QStringLiteral("cada.sqlite")));
        QSqlQuery lock(holder->database());
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));

        // Typing a name: the window answers at once and says why the list waits.
        auto *a1 = edit("A1");
        a1->setFocus();
        QElapsedTimer typing;
        typing.start();
        QTest::keyClicks(a1, QStringLiteral("Ana Maria"));
        QVERIFY2(typing.elapsed() < 1000, qPrintable(QString::number(typing.elapsed())));
        QTRY_VERIFY(notice->isVisible());
        QVERIFY(notice->text().contains(QLatin1String("ocupado")));
        // A save is refused, and said so; what was typed stays.
        edit("A4")->setText(QStringLiteral("(11)3333-4444"));
        m_fx->window()->saveContact();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(m_boxes->shown.first().text.contains(QLatin1String("ocupado")));
        QCOMPARE(a1->text(), QStringLiteral("Ana Maria"));
        // A pick is refused too, and F3 still clears the form.
        m_fx->control<QLabel>("CD")->setText(QString::number(bia));
        m_fx->window()->loadPickedContact();
        QCOMPARE(m_boxes->shown.size(), 2);
        QCOMPARE(a1->text(), QStringLiteral("Ana Maria"));
        QTest::keyClick(a1, Qt::Key_F3);
        QCOMPARE(a1->text(), QString());
        QVERIFY(m_fx->endedWith.isEmpty());

        // The other program lets go: the list and the count come back.
        lock.exec(QStringLiteral("ROLLBACK"));
        lock.finish();
        holder.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 10000);
        QCOMPARE(listedNames(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Bia") }));
        QCOMPARE(nxr(), QStringLiteral("2"));
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    void aRegisterGoneForGoodEndsOnlyWithNothingTyped()
    {
        add(QStringLiteral("Ana"));
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("Cliente novo"));
        QVERIFY(QFile::remove(m_fx->data().file(QStringLiteral("cada.sqlite"))));
        m_fx->window()->clearForm(); // clears what was typed: nothing is lost by ending
        QCOMPARE(m_fx->endedWith, QList<int> { 1 });

        // With a contact being typed, Zuna stays: the save says why it fails.
        m_fx->endedWith.clear();
        m_boxes->shown.clear();
        edit("A1")->setText(QStringLiteral("Outro cliente"));
        edit("A4")->setText(QStringLiteral("(11)3333-4444"));
        m_fx->window()->saveContact();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(m_boxes->shown.first().text.contains(QLatin1String("cada.sqlite")));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Outro cliente"));
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    // --- picking a contact

    void doubleClickLoadsTheContact()
    {
        add(QStringLiteral("Bia"));
        const qint64 code = add(QStringLiteral("Ana"), QStringLiteral("(21)2222-3333"));
        add(QStringLiteral("Ana Clara"));
        QVERIFY(m_fx->start());
        doubleClickRow(0);
        QCOMPARE(cd(), QString::number(code));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("(21)2222-3333"));
        QCOMPARE(edit("A9")->text(), QStringLiteral("Rua Ana, 10"));
        QCOMPARE(edit("A12")->text(), QStringLiteral("São Paulo"));
        QCOMPARE(edit("A13")->text(), QStringLiteral("SP"));
        QCOMPARE(listedNames(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Ana Clara") }));
        QCOMPARE(grid()->currentIndex().column(), 0);
        QVERIFY(grid()->selectionModel()->isRowSelected(grid()->currentIndex().row(), {}));
    }

    void aKeyInTheGridPicksTheCurrentRow()
    {
        add(QStringLiteral("Ana"));
        const qint64 bia = add(QStringLiteral("Bia"));
        QVERIFY(m_fx->start());
        grid()->setFocus();
        grid()->setCurrentIndex(grid()->model()->index(1, 3));
        QTest::keyClick(grid(), Qt::Key_Space);
        QCOMPARE(cd(), QString::number(bia));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Bia"));
        QCOMPARE(listedNames(), QStringList { QStringLiteral("Bia") });
    }

    void onlyKeysThatMoveOrPickLoadAContact()
    {
        const qint64 ana = add(QStringLiteral("Ana"));
        add(QStringLiteral("Bia"));
        QVERIFY(m_fx->start());
        auto *clear = m_fx->control<QPushButton>("Command3");
        clear->setFocus();
        QTest::keyClick(clear, Qt::Key_Tab); // the grid is next: its release lands there
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("DBGrid1"));
        QTest::keyClick(grid(), Qt::Key_A);
        QTest::keyClick(grid(), Qt::Key_F5);
        QCOMPARE(cd(), QString());
        QCOMPARE(edit("A1")->text(), QString());
        QTest::keyClick(grid(), Qt::Key_Down); // picks the current row on the way down
        QCOMPARE(cd(), QString::number(ana));
    }

    void enterOnAButtonClicksIt()
    {
        QVERIFY(m_fx->start());
        typeContact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        auto *save = m_fx->control<QPushButton>("Command4");
        save->setFocus();
        QTest::keyClick(save, Qt::Key_Return);
        QCOMPARE(shownTexts(), QStringList { QStringLiteral("Operação realizada com sucesso.") });
        QCOMPARE(storedCount(), 1);
        auto *clear = m_fx->control<QPushButton>("Command3");
        clear->setFocus();
        QTest::keyClick(clear, Qt::Key_Enter);
        QCOMPARE(edit("A1")->text(), QString());
    }

    void whatWasNotEditedIsStoredExactlyAsRead()
    {
        // Values another program stored that the fields cannot show as they
        // are: CR LF breaks in the notes, a state and a postcode longer than
        // their fields take.
        const QString notes = QStringLiteral("primeira linha\r\nsegunda linha\r\n").repeated(400);
        m_fx->data().exec(QStringLiteral("cada.sqlite"),
            QStringLiteral("INSERT INTO CADA (CD, A1, A4, A13, A14, OB) VALUES "
                           "(7, 'Ana', '(11)3333-4444', 'São Paulo', '01310-100 fundos', '%1')")
                .arg(notes));
        QVERIFY(m_fx->start());
        doubleClickRow(0);
        QCOMPARE(edit("A13")->text(), QStringLiteral("Sã"));
        m_fx->window()->saveContact();
        std::optional<ContactRecord> after = stored(7);
        QCOMPARE(after->ob, notes);
        QCOMPARE(after->a13, QStringLiteral("São Paulo"));
        QCOMPARE(after->a14, QStringLiteral("01310-100 fundos"));

        // Edited notes keep the breaks they were written with; an edited
        // field is stored as it now reads.
        m_fx->control<QPlainTextEdit>("OB")->appendPlainText(QStringLiteral("terceira"));
        edit("A13")->setText(QStringLiteral("SP"));
        m_fx->window()->saveContact();
        after = stored(7);
        QCOMPARE(after->ob, notes + QStringLiteral("\r\nterceira"));
        QCOMPARE(after->a13, QStringLiteral("SP"));
    }

    void aSingleClickLoadsNothing()
    {
        add(QStringLiteral("Ana"));
        QVERIFY(m_fx->start());
        const QRect rect = grid()->visualRect(grid()->model()->index(0, 1));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(cd(), QString());
        QCOMPARE(edit("A1")->text(), QString());
    }

    void aContactOfNullColumnsLoadsAsEmptyFields()
    {
        m_fx->data().exec(QStringLiteral("cada.sqlite"), QStringLiteral("INSERT INTO CADA (CD) VALUES (9)"));
        QVERIFY(m_fx->start());
        edit("A9")->setText(QStringLiteral("antes"));
        doubleClickRow(0);
        QCOMPARE(cd(), QStringLiteral("9"));
        QCOMPARE(edit("A9")->text(), QString());
        QCOMPARE(listedNames().size(), 1); // an empty name lists everyone
    }

    // --- save

    void saveRefusesAnEmptyNameOrTelephone_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("both empty") << ""
                                    << ""
                                    << "Digite o nome antes."
                                    << "A1";
        QTest::newRow("no name") << ""
                                 << "(11)3333-4444"
                                 << "Digite o nome antes."
                                 << "A1";
        QTest::newRow("no telephone") << "Ana"
                                      << ""
                                      << "Digite o telefone antes."
                                      << "A4";
    }
    void saveRefusesAnEmptyNameOrTelephone()
    {
        QFETCH(QString, name);
        QFETCH(QString, phone);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QVERIFY(m_fx->start());
        edit("A1")->setText(name);
        edit("A4")->setText(phone);
        QTest::mouseClick(m_fx->control<QPushButton>("Command4"), Qt::LeftButton);
        QCOMPARE(shownTexts(), QStringList { message });
        QCOMPARE(m_boxes->shown.first().title, MainWindow::AppTitle);
        QCOMPARE(m_boxes->shown.first().icon, MessageBoxes::Icon::None);
        QCOMPARE(WindowFixture::focusedName(), focus);
        QCOMPARE(storedCount(), 0);
    }

    void savingANewContactTwiceUpdatesTheSameRow()
    {
        QVERIFY(m_fx->start());
        typeContact(QStringLiteral("  Zé  "), QStringLiteral("(11)3333-4444"));
        m_fx->window()->saveContact();
        QCOMPARE(shownTexts(), QStringList { QStringLiteral("Operação realizada com sucesso.") });
        QCOMPARE(storedCount(), 1);
        QCOMPARE(nxr(), QStringLiteral("1"));
        const qint64 code = cd().toLongLong();
        QVERIFY(code > 0);
        const auto row = stored(code);
        QCOMPARE(row->a1, QStringLiteral("  Zé  "));
        QCOMPARE(row->ob, QStringLiteral("entregar\nà tarde"));
        QCOMPARE(row->a10, QString(""));

        edit("A10")->setText(QStringLiteral("fundos"));
        m_fx->window()->saveContact();
        QCOMPARE(storedCount(), 1);
        QCOMPARE(stored(code)->a10, QStringLiteral("fundos"));
        QCOMPARE(m_boxes->shown.size(), 2);
    }

    void savingAContactDeletedElsewhereStoresItAgain()
    {
        add(QStringLiteral("Ana"));
        QVERIFY(m_fx->start());
        doubleClickRow(0);
        const qint64 old = cd().toLongLong();
        SqliteRegister(m_fx->data().file(QStringLiteral("cada.sqlite"))).remove(old, nullptr); // another desk
        edit("A9")->setText(QStringLiteral("Rua Mudou, 5"));
        m_fx->window()->saveContact();
        QCOMPARE(shownTexts(), QStringList { QStringLiteral("Operação realizada com sucesso.") });
        const qint64 code = cd().toLongLong();
        QVERIFY(code != old);
        QCOMPARE(stored(code)->a9, QStringLiteral("Rua Mudou, 5"));
        QCOMPARE(stored(code)->a1, QStringLiteral("Ana"));
        QCOMPARE(nxr(), QStringLiteral("1"));
    }

    void aRefusedWriteKeepsWhatWasTyped()
    {
        m_fx->data().exec(QStringLiteral("cada.sqlite"),
            QStringLiteral(
                "CREATE TRIGGER recusa BEFORE INSERT ON CADA BEGIN SELECT RAISE(ABORT, 'disco cheio'); END"));
        QVERIFY(m_fx->start());
        typeContact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        m_fx->window()->saveContact();
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(m_boxes->shown.first().text.contains(QLatin1String("disco cheio")));
        QVERIFY(!shownTexts().contains(QStringLiteral("Operação realizada com sucesso.")));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(m_fx->control<QPlainTextEdit>("OB")->toPlainText(), QStringLiteral("entregar\nà tarde"));
        QCOMPARE(cd(), QString());
        QVERIFY(m_fx->endedWith.isEmpty());
    }

    // --- delete and clear

    void deleteWithoutAPickedContactIsRefused()
    {
        add(QStringLiteral("Ana"));
        QVERIFY(m_fx->start());
        edit("A1")->setText(QStringLiteral("Ana"));
        m_fx->window()->deleteContact();
        QCOMPARE(
            shownTexts(), QStringList { QStringLiteral("Primeiro clique sobre o nome desejado na tabela de dados.") });
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("A1"));
        QCOMPARE(storedCount(), 1);
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void deleteAsksFirst()
    {
        QFETCH(bool, yes);
        add(QStringLiteral("Ana"));
        add(QStringLiteral("Bia"));
        QVERIFY(m_fx->start());
        doubleClickRow(0);
        const QString code = cd();
        m_boxes->answers = { yes ? MessageBoxes::Answer::Yes : MessageBoxes::Answer::No };
        m_fx->window()->deleteContact();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown.first().text.section(QLatin1Char('\n'), 0, 0), QStringLiteral("Confirma exclusão?"));
        QCOMPARE(m_boxes->shown.first().icon, MessageBoxes::Icon::Question);
        QCOMPARE(m_boxes->shown.first().buttons, MessageBoxes::Buttons::YesNo);
        if (!yes) {
            QCOMPARE(storedCount(), 2);
            QCOMPARE(cd(), code);
            QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
            return;
        }
        QCOMPARE(storedCount(), 1);
        QCOMPARE(nxr(), QStringLiteral("1"));
        QCOMPARE(cd(), QString());
        QCOMPARE(edit("A1")->text(), QString());
        QCOMPARE(listedNames(), QStringList { QStringLiteral("Bia") });
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("Text1"));
    }

    void clearEmptiesEveryFieldAndRecounts()
    {
        add(QStringLiteral("Ana"));
        QVERIFY(m_fx->start());
        doubleClickRow(0);
        edit("Text1")->setText(QStringLiteral("(11)9999-8888"));
        add(QStringLiteral("Bia")); // another desk
        edit("A9")->setFocus();
        QTest::keyClick(edit("A9"), Qt::Key_F3);
        for (const char *name : { "Text1", "A1", "A4", "A9", "A10", "A11", "A12", "A13", "A14" })
            QVERIFY2(edit(name)->text().isEmpty(), name);
        QCOMPARE(m_fx->control<QPlainTextEdit>("OB")->toPlainText(), QString());
        QCOMPARE(cd(), QString());
        QCOMPARE(nxr(), QStringLiteral("2"));
        QCOMPARE(listedNames().size(), 2);
        QCOMPARE(WindowFixture::focusedName(), QStringLiteral("Text1"));
    }
};

QTEST_MAIN(TestRegister)
#include "TestRegister.moc"
