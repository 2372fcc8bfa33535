#include "TestSupport.h"

#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdControl.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <memory>

namespace {

// Counts the function keys that reach one widget.
class KeyCounter : public QObject
{
public:
    explicit KeyCounter(QWidget *w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
                keys << key;
        }
        return false;
    }
    QList<int> keys;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fixture;
    MainWindow *m_window = nullptr;
    DataFolderFixture *m_data = nullptr;

    template <class W = QWidget> W *control(const char *name) const { return m_fixture->control<W>(name); }
    static QString focusedName() { return WindowFixture::focusedName(); }

private slots:
    void init()
    {
        m_fixture = std::make_unique<WindowFixture>();
        m_data = &m_fixture->data();
        m_data->addContact(m_data->contact(QStringLiteral("Ana"), QStringLiteral("(11)1111-1111")));
        QVERIFY(m_fixture->start());
        m_window = m_fixture->window();
    }

    void cleanup() { m_fixture.reset(); }

    void controlsStandWhereDesigned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("onTab");
        auto row = [](const char *name, const char *kind, QRect rect, const char *caption, bool onTab = false) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << rect
                                << QString::fromUtf8(caption) << onTab;
        };
        row("micDTMFoCx1", "CallerIdControl", { 8, 24, 169, 21 }, "0 (00) 0000-0000");
        row("Command1", "QPushButton", { 8, 56, 81, 21 }, "F1 - Ativar       ");
        row("Command5", "QPushButton", { 96, 56, 81, 21 }, "F2 - Desativar");
        row("Text1", "QLineEdit", { 8, 96, 169, 21 }, "");
        row("Command3", "QPushButton", { 8, 136, 169, 21 }, "F3 - Limpar");
        row("Text11", "QLineEdit", { 8, 176, 25, 25 }, "11");
        row("NXR", "QLabel", { 40, 176, 57, 25 }, "1");
        row("Command7", "QPushButton", { 104, 176, 73, 25 }, "");
        row("SSTab1", "QTabWidget", { 184, 8, 449, 193 }, "");
        row("DBGrid1", "QTableView", { 8, 208, 625, 265 }, "");
        row("Label1", "QLabel", { 7, 483, 568, 15 }, "ATENÇÃO - SÓ FUNCIONA COM O ZUNA  MICDTMF  ");
        row("A4", "QLineEdit", { 8, 48, 113, 21 }, "", true);
        row("A1", "QLineEdit", { 136, 48, 297, 21 }, "", true);
        row("A9", "QLineEdit", { 8, 88, 425, 21 }, "", true);
        row("A10", "QLineEdit", { 8, 128, 73, 21 }, "", true);
        row("A11", "QLineEdit", { 88, 128, 89, 21 }, "", true);
        row("A12", "QLineEdit", { 184, 128, 137, 21 }, "", true);
        row("A13", "QLineEdit", { 328, 128, 33, 21 }, "", true);
        row("A14", "QLineEdit", { 368, 128, 65, 21 }, "", true);
        row("Command4", "QPushButton", { 232, 160, 97, 25 }, "GRAVA", true);
        row("Command6", "QPushButton", { 336, 160, 97, 25 }, "APAGA", true);
        row("OB", "QPlainTextEdit", { 8, 32, 425, 149 }, "", true);
    }
    void controlsStandWhereDesigned()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, rect);
        QFETCH(QString, caption);
        QFETCH(bool, onTab);
        QCOMPARE(m_window->size(), QSize(645, 500));
        QWidget *w = control(name.toLatin1().constData());
        QVERIFY2(w->inherits(kind.toLatin1().constData()), w->metaObject()->className());
        QWidget *origin = onTab ? control("SSTab1") : m_window;
        QCOMPARE(QRect(w->mapTo(origin, QPoint(0, 0)), w->size()), rect);
        QString shown;
        if (auto *b = qobject_cast<QPushButton *>(w))
            shown = b->text();
        else if (auto *l = qobject_cast<QLabel *>(w))
            shown = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            shown = e->text();
        QCOMPARE(shown, caption);
    }

    void fieldsAndGridAreSetUpAsDesigned()
    {
        QCOMPARE(control<QLineEdit>("Text11")->maxLength(), 2);
        QCOMPARE(control<QLineEdit>("A13")->maxLength(), 2);
        QCOMPARE(control<QLineEdit>("A14")->maxLength(), 9);
        auto *tabs = control<QTabWidget>("SSTab1");
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Cadastro"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Observações"));
        QCOMPARE(tabs->currentIndex(), 0);

        auto *grid = control<QTableView>("DBGrid1");
        const QStringList captions = { QStringLiteral("Código"), QStringLiteral("Nome"), QStringLiteral("Telefone"),
            QStringLiteral("Endereço"), QStringLiteral("Cidade"), QStringLiteral("U.F.") };
        const int widths[] = { 43, 248, 108, 303, 143, 38 };
        QCOMPARE(grid->model()->columnCount(), 6);
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(grid->model()->headerData(c, Qt::Horizontal).toString(), captions.at(c));
            QCOMPARE(grid->columnWidth(c), widths[c]);
        }
        QCOMPARE(grid->model()->index(0, 2).data().toString(), QStringLiteral("(11)1111-1111"));
        QVERIFY(!(grid->model()->flags(grid->model()->index(0, 1)) & Qt::ItemIsEditable));
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(grid->verticalHeader()->isVisible()); // the record selector

        auto *display = control<CallerIdControl>("micDTMFoCx1");
        QCOMPARE(display->focusPolicy(), Qt::NoFocus);
        QCOMPARE(display->palette().color(QPalette::Window), QColor(0, 0, 128));
        QCOMPARE(display->palette().color(QPalette::WindowText), QColor(0, 255, 255));
        QCOMPARE(m_window->palette().color(QPalette::Window), QColor(59, 110, 165));
        QVERIFY(!m_window->windowIcon().isNull());
        QVERIFY(!control<QPushButton>("Command7")->icon().isNull());
    }

    void hiddenControlsAreNeverShown()
    {
        for (const char *name : { "CD", "Command2", "SITE" })
            QVERIFY2(!control(name)->isVisible(), name);
        QCOMPARE(control("CD")->x(), -72);
        QCOMPARE(control<QPushButton>("Command2")->text(), QStringLiteral("Abrir tela de configuração"));
        QVERIFY(m_window->findChild<QAbstractItemModel *>(QStringLiteral("Data1")));
    }

    void tabWalksTheDesignedOrder()
    {
        const QStringList expected = { QStringLiteral("Command1"), QStringLiteral("Text11"), QStringLiteral("Command5"),
            QStringLiteral("Command3"), QStringLiteral("DBGrid1"), QStringLiteral("Command7"), QStringLiteral("SSTab1"),
            QStringLiteral("A4"), QStringLiteral("A1"), QStringLiteral("A9"), QStringLiteral("A10"),
            QStringLiteral("A11"), QStringLiteral("A12"), QStringLiteral("A13"), QStringLiteral("A14"),
            QStringLiteral("Command4"), QStringLiteral("Command6"), QStringLiteral("Text1") };
        QCOMPARE(focusedName(), QStringLiteral("Text1"));
        QStringList walked;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << focusedName();
        }
        QCOMPARE(walked, expected);
    }

    void functionKeysActFromEveryControlAndDoNothingElse_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        for (const char *name : { "Text1", "DBGrid1", "OB", "Command3", "A14" }) {
            QTest::newRow(name) << QString::fromLatin1(name) << Qt::KeyboardModifiers(Qt::NoModifier);
            QTest::addRow("%s with Ctrl+Shift", name)
                << QString::fromLatin1(name) << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
        }
    }
    void functionKeysActFromEveryControlAndDoNothingElse()
    {
        QFETCH(QString, focus);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QWidget *target = control(focus.toLatin1().constData());
        if (focus == QLatin1String("OB"))
            control<QTabWidget>("SSTab1")->setCurrentIndex(1);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
        KeyCounter reached(target);
        auto *callerId = m_window->callerId();

        control<QLineEdit>("Text11")->setText(QStringLiteral("31"));
        QTest::keyClick(target, Qt::Key_F1, modifiers);
        QVERIFY(callerId->isActive());
        QCOMPARE(callerId->areaCode(), QStringLiteral("31"));
#ifdef Q_OS_WIN
        QVERIFY(callerId->pluginPath().endsWith(QLatin1String("\\P.exe")));
#else
        QCOMPARE(callerId->pluginPath(), CallerIdSettings().a3RootPlugIn); // no plug-in off Windows
#endif

        QTest::keyClick(target, Qt::Key_F2, modifiers);
        QVERIFY(!callerId->isActive());

        control<QLineEdit>("A9")->setText(QStringLiteral("Rua A"));
        control<QPlainTextEdit>("OB")->setPlainText(QStringLiteral("nota"));
        m_data->addContact(m_data->contact(QStringLiteral("Bia"))); // from another desk
        QTest::keyClick(target, Qt::Key_F3, modifiers);
        // The key clears the form and goes no further: in the grid it must
        // not go on to load the first contact of the fresh list, which the
        // next save would then overwrite.
        QCOMPARE(control<QLineEdit>("A9")->text(), QString());
        QCOMPARE(control<QLabel>("CD")->text(), QString());
        QCOMPARE(control<QPlainTextEdit>("OB")->toPlainText(), QString());
        QCOMPARE(control<QLabel>("NXR")->text(), QStringLiteral("2"));
        QCOMPARE(control<QTableView>("DBGrid1")->model()->rowCount(), 2);
        QVERIFY(reached.keys.isEmpty());
        QVERIFY(m_fixture->endedWith.isEmpty());
    }

    void escapeAsksFirstOnlyWhenSomethingIsUnsaved()
    {
        RecordingMessageBoxes boxes;
        auto *a1 = control<QLineEdit>("A1");
        a1->setFocus();
        // Nothing typed: Zuna ends at once.
        QTest::keyClick(a1, Qt::Key_Escape);
        QCOMPARE(m_fixture->endedWith, QList<int> { 0 });
        QVERIFY(boxes.shown.isEmpty());

        // Typed and not saved: asked, No by default, and nothing is lost.
        for (Qt::KeyboardModifiers m :
            { Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier) }) {
            m_fixture->endedWith.clear();
            boxes.shown.clear();
            a1->setText(QString());
            QTest::keyClicks(a1, QStringLiteral("Maria"));
            boxes.answers << MessageBoxes::Answer::No;
            QTest::keyClick(a1, Qt::Key_Escape, m);
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown.first().text, QStringLiteral("Sair sem gravar?"));
            QCOMPARE(boxes.shown.first().buttons, MessageBoxes::Buttons::YesNoDefaultNo);
            QVERIFY(m_fixture->endedWith.isEmpty());
            QCOMPARE(a1->text(), QStringLiteral("Maria"));
        }
        boxes.answers << MessageBoxes::Answer::Yes;
        QTest::keyClick(a1, Qt::Key_Escape);
        QCOMPARE(m_fixture->endedWith, QList<int> { 0 });

        // A contact loaded and left as it was ends at once; one with a field
        // emptied asks.
        m_fixture->endedWith.clear();
        m_window->clearForm();
        boxes.shown.clear();
        auto *grid = control<QTableView>("DBGrid1");
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 0));
        QTest::keyClick(grid, Qt::Key_Return);
        QVERIFY(!control<QLabel>("CD")->text().isEmpty());
        QTest::keyClick(grid, Qt::Key_Escape);
        QCOMPARE(m_fixture->endedWith, QList<int> { 0 });
        QVERIFY(boxes.shown.isEmpty());
        m_fixture->endedWith.clear();
        control<QLineEdit>("A9")->clear();
        boxes.answers << MessageBoxes::Answer::No;
        QTest::keyClick(grid, Qt::Key_Escape);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(m_fixture->endedWith.isEmpty());
    }

    void otherKeysAreLeftAlone()
    {
        auto *text1 = control<QLineEdit>("Text1");
        QTest::keyClick(text1, Qt::Key_F4);
        QTest::keyClick(text1, Qt::Key_F5);
        QVERIFY(!m_window->callerId()->isActive());
        QVERIFY(m_fixture->endedWith.isEmpty());
    }

    void aBrokenRegisterDuringTheRunIsReportedAndEnds()
    {
        RecordingMessageBoxes boxes;
        QVERIFY(QFile::remove(m_data->file(QStringLiteral("cada.sqlite"))));
        QTest::keyClick(control("Text1"), Qt::Key_F3);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown.first().text.contains(QLatin1String("cada.sqlite")));
        QCOMPARE(m_fixture->endedWith, QList<int> { 1 });
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
