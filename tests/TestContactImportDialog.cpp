#include "TestSupport.h"

#include "app/ContactImportDialog.h"
#include "app/MainWindow.h"
#include "contacts/ContactListModel.h"
#include "contacts/Register.h"

#include <QApplication>
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
};

QTEST_MAIN(TestContactImportDialog)
#include "TestContactImportDialog.moc"
