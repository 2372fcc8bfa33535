#include "TestSupport.h"

#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"
#include "gui/app/ContactImportDialog.h"
#include "gui/app/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestContactImportDialog : public QObject
{
    Q_OBJECT

private slots:
    void f6ImportsAFileAfterItsPreviewAndTheGridFollows()
    {
        WindowFixture w;
        w.data().addContact(w.data().contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444")));
        QVERIFY(w.start());
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("lista.csv"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("nome;telefone\r\nBia;(11)2222-1111\r\nAna de novo;11 3333 4444\r\nCarla;(21)98888-7777\r\n");
        }
        auto *a1 = w.control<QLineEdit>("A1");
        a1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), a1);
        QTest::keyClick(a1, Qt::Key_F6);
        ContactImportDialog *dialog = w.window()->findChild<ContactImportDialog *>(QStringLiteral("importarContatos"));
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        dialog->openFile(file);
        auto *preview = dialog->findChild<QPlainTextEdit *>(QStringLiteral("previa"));
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("2 contatos a importar, 1 repetidos")));
        // Nothing is written before the attendant says so.
        qint64 count = 0;
        QString error;
        QVERIFY(w.window()->contactRegister()->count(&count, &error));
        QCOMPARE(count, 1);
        auto *import = dialog->findChild<QPushButton *>(QStringLiteral("importar"));
        QVERIFY(import->isEnabled());
        QTest::mouseClick(import, Qt::LeftButton);
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("2 contatos importados")));
        QVERIFY(w.window()->contactRegister()->count(&count, &error));
        QCOMPARE(count, 3);
        QTRY_COMPARE(w.window()->contactList()->rowCount(), 3);
        QVERIFY(!import->isEnabled());
    }

    void unclearColumnsAreChosenInThePreview()
    {
        RegisterFixture r(QStringLiteral("sqlite"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("lista.csv"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Quem;Numero;Cidade\r\nAna;(11)3333-4444;Santos\r\nBia;(11)2222-1111;Niter\xc3\xb3i\r\n");
        }
        ContactImportDialog dialog(&r.reg());
        dialog.show();
        dialog.openFile(file);
        auto *preview = dialog.findChild<QPlainTextEdit *>(QStringLiteral("previa"));
        auto *import = dialog.findChild<QPushButton *>(QStringLiteral("importar"));
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("0 contatos a importar")));
        QVERIFY(!import->isEnabled());
        auto *who = dialog.findChild<QComboBox *>(QStringLiteral("campoColuna1"));
        auto *number = dialog.findChild<QComboBox *>(QStringLiteral("campoColuna2"));
        QVERIFY(who && number);
        QVERIFY(!dialog.findChild<QComboBox *>(QStringLiteral("campoColuna3"))); // Cidade is known
        QCOMPARE(who->currentText(), QStringLiteral("pular"));
        who->setCurrentIndex(who->findText(QStringLiteral("nome")));
        QTRY_VERIFY(who->isEnabled());
        number->setCurrentIndex(number->findText(QStringLiteral("telefone")));
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("2 contatos a importar")));
        QTRY_VERIFY(import->isEnabled());
        QTest::mouseClick(import, Qt::LeftButton);
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("2 contatos importados")));
        QStringList stored;
        QString error;
        QVERIFY(r.reg().forEachContact(
            [&](const ContactRecord &c) {
                return stored << c.a1 + QLatin1Char('|') + c.a4 + QLatin1Char('|') + c.a12, true;
            },
            &error));
        QCOMPARE(stored,
            QStringList({ QStringLiteral("Ana|(11)3333-4444|Santos"), QStringLiteral("Bia|(11)2222-1111|Niterói") }));
    }

    // A file that only completes a stored contact: nothing to write until
    // the attendant chooses to merge; then the stored contact is completed.
    void duplicatesAreMergedWhenChosen()
    {
        RegisterFixture r(QStringLiteral("sqlite"));
        ContactRecord ana;
        ana.a1 = QStringLiteral("Ana");
        ana.a4 = QStringLiteral("(11)3333-4444");
        ana.a12 = QStringLiteral("Santos");
        r.add(ana);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("lista.csv"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("nome;telefone;bairro;cidade\r\nAna;11 3333-4444;Centro;Niter\xc3\xb3i\r\n");
        }
        ContactImportDialog dialog(&r.reg());
        dialog.show();
        auto *merge = dialog.findChild<QCheckBox *>(QStringLiteral("completar"));
        auto *preview = dialog.findChild<QPlainTextEdit *>(QStringLiteral("previa"));
        auto *import = dialog.findChild<QPushButton *>(QStringLiteral("importar"));
        QVERIFY(merge && !merge->isEnabled());
        dialog.openFile(file);
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("0 contatos a importar, 1 repetidos")));
        QVERIFY(merge->isEnabled());
        QVERIFY(!import->isEnabled());
        merge->setChecked(true);
        QVERIFY2(preview->toPlainText().contains(QStringLiteral("linha 2: Ana  (11)3333-4444 (bairro, observações)")),
            qPrintable(preview->toPlainText()));
        QVERIFY(import->isEnabled());
        QTest::mouseClick(import, Qt::LeftButton);
        QTRY_VERIFY(preview->toPlainText().contains(QStringLiteral("1 contatos já cadastrados completados")));
        std::optional<ContactRecord> now;
        QString error;
        QVERIFY(r.reg().findByCode(1, &now, &error) && now);
        QCOMPARE(now->a11, QStringLiteral("Centro"));
        QCOMPARE(now->a12, QStringLiteral("Santos"));
        QCOMPARE(now->ob, QStringLiteral("Importado, cidade: Niterói"));
        QVERIFY(!merge->isEnabled());
    }
};

QTEST_MAIN(TestContactImportDialog)
#include "TestContactImportDialog.moc"
