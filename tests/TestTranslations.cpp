#include "TestSupport.h"

#include "core/app/Translations.h"
#include "core/contacts/Register.h"
#include "gui/app/AboutDialog.h"
#include "gui/app/ContactImportDialog.h"
#include "gui/app/FirstRunAssistant.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <memory>

namespace {

// A text as the attendant reads it: no mnemonic mark, no shortcut after a tab.
QString shown(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0);
    return text.remove(QLatin1Char('&'));
}

// Every text a file dialog shows: captions, tips, menus, choices, the
// header and the cells of its views.
QStringList textsOf(QFileDialog *dialog)
{
    QStringList texts { dialog->windowTitle() };
    for (auto *label : dialog->findChildren<QLabel *>())
        texts << label->text();
    for (auto *button : dialog->findChildren<QAbstractButton *>())
        texts << shown(button->text()) << button->toolTip();
    for (auto *action : dialog->findChildren<QAction *>())
        texts << shown(action->text()) << action->toolTip();
    for (auto *box : dialog->findChildren<QComboBox *>())
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
    for (auto *view : dialog->findChildren<QAbstractItemView *>()) {
        const QAbstractItemModel *model = view->model();
        if (!model)
            continue;
        for (int column = 0; column < model->columnCount(view->rootIndex()); ++column)
            texts << model->headerData(column, Qt::Horizontal).toString();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
            for (int column = 0; column < model->columnCount(view->rootIndex()); ++column) {
                const QModelIndex index = model->index(row, column, view->rootIndex());
                texts << index.data().toString() << index.data(Qt::ToolTipRole).toString();
            }
    }
    texts.removeAll(QString());
    texts.removeDuplicates();
    return texts;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The tests run under LC_ALL=C.UTF-8: Portuguese must not depend on the system locale.
        QString error;
        QVERIFY2(Translations::installPortuguese(*qApp, &error), qPrintable(error));
        QVERIFY(QFileInfo(Translations::catalogue()).isFile());
    }

    void lineEditMenuSpeaksPortuguese()
    {
        QLineEdit edit(QStringLiteral("Maria"));
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList texts;
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << shown(action->text());
        for (const QString &expected : { QStringLiteral("Desfazer"), QStringLiteral("Refazer"),
                 QStringLiteral("Recortar"), QStringLiteral("Copiar"), QStringLiteral("Colar") })
            QVERIFY2(texts.contains(expected), qPrintable(texts.join(QStringLiteral(", "))));
        QVERIFY2(!texts.contains(QStringLiteral("Copy")), qPrintable(texts.join(QStringLiteral(", "))));
    }

    void standardButtonsSpeakPortuguese_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("ok") << int(QDialogButtonBox::Ok) << QStringLiteral("OK");
        QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << QStringLiteral("Cancelar");
        QTest::newRow("yes") << int(QDialogButtonBox::Yes) << QStringLiteral("Sim");
        QTest::newRow("no") << int(QDialogButtonBox::No) << QStringLiteral("Não");
        QTest::newRow("save") << int(QDialogButtonBox::Save) << QStringLiteral("Salvar");
        QTest::newRow("close") << int(QDialogButtonBox::Close) << QStringLiteral("Fechar");
    }

    void standardButtonsSpeakPortuguese()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        const auto which = QDialogButtonBox::StandardButton(button);
        QDialogButtonBox box(which);
        QCOMPARE(shown(box.button(which)->text()), text);
    }

    // Each file dialog Zuna opens, over a folder with a file and a folder in
    // it, under the tests' C locale: Portuguese words and Brazilian dates.
    void fileDialogsSpeakPortuguese_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::newRow("Access register") << QStringLiteral("access");
        QTest::newRow("contacts to import") << QStringLiteral("contacts");
        QTest::newRow("line recording") << QStringLiteral("recording");
        QTest::newRow("copy to restore") << QStringLiteral("restore");
    }

    void fileDialogsSpeakPortuguese()
    {
        QFETCH(QString, opener);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("antigo")));
        // A file each dialog lists, whatever its filter.
        const QString file = dir.filePath(QStringLiteral("CADA.MDB"));
        for (const QString &name : { QStringLiteral("CADA.MDB"), QStringLiteral("lista.csv"),
                 QStringLiteral("linha.wav"), QStringLiteral("copia.sqlite") }) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(3000, 'x'));
            f.close();
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime(QDate(2026, 12, 8), QTime(9, 30)), QFileDevice::FileModificationTime));
        }

        // What the dialogs need, made before them and gone after them.
        std::unique_ptr<RegisterFixture> reg;
        std::unique_ptr<WindowFixture> window;
        std::unique_ptr<QWidget> owner;
        QAbstractButton *browse = nullptr;
        if (opener == QLatin1String("access")) {
            auto *assistant = new FirstRunAssistant(dir.filePath(QStringLiteral("dados")), QString());
            owner.reset(assistant);
            assistant->findChild<QAbstractButton *>(QStringLiteral("cadastroAccess"))->setChecked(true);
            assistant->findChild<QLineEdit *>(QStringLiteral("arquivoAccess"))->setText(file);
            browse = assistant->findChild<QPushButton *>(QStringLiteral("procurarAccess"));
        } else if (opener == QLatin1String("contacts")) {
            reg = std::make_unique<RegisterFixture>(QStringLiteral("sqlite"));
            owner = std::make_unique<ContactImportDialog>(&reg->reg());
            browse = owner->findChild<QPushButton *>(QStringLiteral("escolherArquivo"));
        } else if (opener == QLatin1String("restore")) {
            window = std::make_unique<WindowFixture>();
            QVERIFY(window->start());
            owner = std::make_unique<AboutDialog>(window->data().path(), QString(), window->window());
            browse = owner->findChild<QPushButton *>(QStringLiteral("restaurar"));
        } else {
            owner = std::make_unique<CallerIdSetupDialog>(dir.path());
            owner->findChild<QLineEdit *>(QStringLiteral("arquivo"))->setText(file);
            browse = owner->findChild<QPushButton *>(QStringLiteral("procurarArquivo"));
        }
        QVERIFY(browse);
        owner->show();

        // The dialog is modal: it is read from a timer that runs inside it,
        // once it lists the folder, and then closed.
        QStringList texts;
        QString size;
        QString date;
        bool read = false;
        QTimer watch;
        int ticks = 0;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            ++ticks;
            if (!dialog && ticks < 200)
                return;
            if (dialog) {
                // The contacts' dialog starts where the last one was left.
                if (dialog->directory() != QDir(dir.path()))
                    dialog->setDirectory(dir.path());
                auto *details = dialog->findChild<QTreeView *>();
                const QAbstractItemModel *model = details ? details->model() : nullptr;
                if (ticks < 200 && (!model || model->rowCount(details->rootIndex()) < 2))
                    return;
                texts = textsOf(dialog);
                for (int row = 0; model && row < model->rowCount(details->rootIndex()); ++row) {
                    const QModelIndex name = model->index(row, 0, details->rootIndex());
                    if (name.data().toString() != QLatin1String("antigo")) {
                        size = name.siblingAtColumn(1).data().toString();
                        date = name.siblingAtColumn(3).data().toString();
                    }
                }
                read = true;
                dialog->reject();
            }
            watch.stop();
        });
        watch.start(20);
        browse->click();
        QVERIFY2(read, "no file dialog opened");
        QCOMPARE(date, QStringLiteral("08/12/2026 09:30"));
        QCOMPARE(size, QStringLiteral("2,93 KiB"));
        // The words of Qt's file dialog, and the months and week days of C's dates.
        static const QRegularExpression english(QStringLiteral(
            "\\b(Folder|Files?|Drive|Computer|Name|Size|Type|Date|Modified|Look|Back|Forward|Parent|Director(y|ies)|"
            "Create|New|List|View|Detail|Open|Save|Cancel|Choose|Rename|Delete|Show|hidden|Recent|Places|Shortcut|"
            "bytes|document|database|audio|Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec|Mon|Tue|Wed|Thu|Fri|Sat|"
            "Sun)\\b"));
        for (const QString &text : std::as_const(texts))
            QVERIFY2(!english.match(text).hasMatch(), qPrintable(texts.join(QStringLiteral(" | "))));
    }

    void messageBoxButtonsSpeakPortuguese()
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Zuna"), QStringLiteral("Apagar?"),
            QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(shown(box.button(QMessageBox::Yes)->text()), QStringLiteral("Sim"));
        QCOMPARE(shown(box.button(QMessageBox::No)->text()), QStringLiteral("Não"));
    }
};

QTEST_MAIN(TestTranslations)
#include "TestTranslations.moc"
