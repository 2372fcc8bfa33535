#include "TestSupport.h"

#include "core/callerid/CallerIdSettings.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The configuration screen's check of a line source other than the sound
// card: "Testar a fonte" runs the source as the monitor would and shows its
// state and the calls it hands over, so that the attendant sees the wiring
// work before saving.
class TestSetupLineCheck : public QObject
{
    Q_OBJECT

private slots:
    void anNcidServerIsCheckedOnTheSpot()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTemporaryDir dir;
        CallerIdSetupDialog dialog(dir.path());
        dialog.show();
        auto *check = dialog.findChild<QPushButton *>(QStringLiteral("testarFonte"));
        auto *state = dialog.findChild<QLabel *>(QStringLiteral("estadoFonte"));
        QVERIFY(!check->isVisibleTo(&dialog)); // the sound card has its own test
        dialog.findChild<QComboBox *>(QStringLiteral("fonte"))->setCurrentIndex(3); // NCID
        QVERIFY(check->isVisibleTo(&dialog));
        dialog.findChild<QLineEdit *>(QStringLiteral("ncid-servidor"))->setText(QStringLiteral("127.0.0.1"));
        dialog.findChild<QSpinBox *>(QStringLiteral("ncid-porta"))->setValue(server.serverPort());
        check->click();
        QTRY_VERIFY(server.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        peer->write("200 NCID Server\r\n300 End of connection startup\r\n"
                    "CID: *DATE*12082026*TIME*0130*NMBR*1133334444*NAME*ANA*\r\n");
        QTRY_VERIFY2(state->text().contains(QStringLiteral("Conectado ao servidor NCID")), qPrintable(state->text()));
        QTRY_VERIFY2(state->text().contains(QStringLiteral("Chamada: 1133334444 · ANA")), qPrintable(state->text()));

        // Stopped by the button, and by a change of source.
        check->click();
        QVERIFY(state->text().isEmpty());
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }

    void aServerThatIsNotThereIsSaidSo()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        QTemporaryDir dir;
        CallerIdSetupDialog dialog(dir.path());
        dialog.findChild<QComboBox *>(QStringLiteral("fonte"))->setCurrentIndex(3);
        dialog.findChild<QLineEdit *>(QStringLiteral("ncid-servidor"))->setText(QStringLiteral("127.0.0.1"));
        dialog.findChild<QSpinBox *>(QStringLiteral("ncid-porta"))->setValue(port);
        dialog.findChild<QPushButton *>(QStringLiteral("testarFonte"))->click();
        auto *state = dialog.findChild<QLabel *>(QStringLiteral("estadoFonte"));
        QTRY_VERIFY2(
            state->text().startsWith(QStringLiteral("Sem conexão com o servidor NCID")), qPrintable(state->text()));
        dialog.findChild<QComboBox *>(QStringLiteral("fonte"))->setCurrentIndex(2); // Modem: the check stops
        QVERIFY(state->text().isEmpty());
        // Nothing was saved by checking.
        QVERIFY(!QFile::exists(CallerIdSettings::filePath(dir.path())));
    }
};

QTEST_MAIN(TestSetupLineCheck)
#include "TestSetupLineCheck.moc"
