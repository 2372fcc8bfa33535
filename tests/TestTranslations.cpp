#include "app/Translations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

// A text as the attendant reads it: no mnemonic mark, no shortcut after a tab.
QString shown(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0);
    return text.remove(QLatin1Char('&'));
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
