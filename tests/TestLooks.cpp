#include "TestSupport.h"

#include "core/callerid/sources/AudioCapture.h"
#include "core/contacts/Register.h"
#include "gui/app/CallListModel.h"
#include "gui/app/CallsWindow.h"
#include "gui/app/FirstRunAssistant.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWizardPage>

// The windows at the fonts attendants use: every text the user reads fits
// the box it is drawn in. ZUNA_SCREENSHOT_DIR keeps a picture of each.
class TestLooks : public QObject
{
    Q_OBJECT

    QFont m_startFont;

    // At a device pixel ratio above 1 (QT_SCALE_FACTOR=2, a high-density
    // screen) the picture is taken at that ratio and named for it.
    static void keepPicture(QWidget *widget, const QString &name)
    {
        const QString dir = qEnvironmentVariable("ZUNA_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        const qreal ratio = widget->devicePixelRatioF();
        const QString scale = ratio > 1 ? QStringLiteral("-escala%1").arg(ratio) : QString();
        QVERIFY(widget->grab().save(dir + QLatin1Char('/') + name + scale + QStringLiteral(".png")));
    }

    // Each visible text of `top` whole: a wrapped label as tall as its
    // lines, any other as wide as its longest line, a button's or a choice's
    // caption within it. Fails the test with the first that is not.
    static void verifyTextsFit(QWidget *top)
    {
        for (QLabel *label : top->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty() || !label->pixmap().isNull())
                continue;
            const QString where = QStringLiteral("%1 \"%2\"").arg(label->objectName(), label->text().left(40));
            if (label->wordWrap()) {
                QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(where));
            } else if (!Qt::mightBeRichText(label->text())) {
                int widest = 0;
                for (const QString &line : label->text().remove(QLatin1Char('&')).split(QLatin1Char('\n')))
                    widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
                QVERIFY2(widest <= label->contentsRect().width(),
                    qPrintable(
                        QStringLiteral("%1: %2 > %3").arg(where).arg(widest).arg(label->contentsRect().width())));
            }
        }
        for (QAbstractButton *button : top->findChildren<QAbstractButton *>()) {
            if (!button->isVisible() || button->text().trimmed().isEmpty())
                continue;
            const QString where = QStringLiteral("%1 \"%2\"").arg(button->objectName(), button->text());
            if (qobject_cast<QPushButton *>(button)) {
                // Some designed captions keep blanks after the words.
                const QString caption = button->text().trimmed().remove(QLatin1Char('&'));
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = caption;
                const QRect inside = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                const int room = inside.width() - (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
                const int needed = button->fontMetrics().horizontalAdvance(caption);
                QVERIFY2(needed <= room, qPrintable(QStringLiteral("%1: %2 > %3").arg(where).arg(needed).arg(room)));
            } else {
                QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(where));
            }
        }
    }

    static void addSizes()
    {
        QTest::addColumn<int>("points");
        for (int points : { 9, 11, 12 })
            QTest::addRow("%d pt", points) << points;
    }

private slots:
    void initTestCase() { m_startFont = QApplication::font(); }
    void cleanup() { QApplication::setFont(m_startFont); }

    void theCallsColumnsHoldTheirTexts_data() { addSizes(); }
    void theCallsColumnsHoldTheirTexts()
    {
        QFETCH(int, points);
        // The window over a register of its own: nothing else holds it busy.
        DataFolderFixture data;
        QString error;
        const auto opened = Register::open(data.path(), {}, Register::Patience::Background, &error);
        QVERIFY2(opened, qPrintable(error));
        Register &reg = *opened;
        QSet<qint64> fresh;
        // Late hours and wide digits, a mobile number, and calls still new (bold).
        for (const auto &[number, when] : {
                 std::pair { QStringLiteral("(11)99999-8888"), QDateTime(QDate(2026, 12, 28), QTime(23, 48, 58)) },
                 std::pair { QStringLiteral("(48)3333-0000"), QDateTime(QDate(2026, 10, 30), QTime(14, 28, 40)) },
             }) {
            for (int copy = 0; copy < 2; ++copy) {
                CallRecord call;
                call.when = when.addSecs(copy);
                call.key = call.received = QString(number).remove(QRegularExpression(QStringLiteral("\\D")));
                call.laidOut = number;
                QVERIFY(reg.logCall(&call, nullptr));
                if (copy == 0)
                    fresh.insert(call.id);
            }
        }
        QFont font = m_startFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        CallsWindow window(&reg, nullptr);
        CallsWindow *calls = &window;
        auto *grid = calls->findChild<QTableView *>(QStringLiteral("gridChamadas"));
        QVERIFY(grid);
        calls->showLog();
        QTRY_VERIFY2(calls->model()->rowCount() == 4,
            qPrintable(calls->findChild<QLabel *>(QStringLiteral("avisoChamadas"))->text()));
        calls->model()->setNewCalls(fresh);
        QTRY_VERIFY(grid->isVisible());

        const int margin = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1);
        for (int column : { CallListModel::New, CallListModel::Date, CallListModel::Time, CallListModel::Number,
                 CallListModel::InRegister }) {
            QHeaderView *header = grid->horizontalHeader();
            const QString title = calls->model()->headerData(column, Qt::Horizontal).toString();
            QVERIFY2(header->sectionSizeHint(column) <= grid->columnWidth(column), qPrintable(title));
            for (int row = 0; row < calls->model()->rowCount(); ++row) {
                const QModelIndex index = calls->model()->index(row, column);
                QFont cellFont = grid->font();
                if (const QVariant f = index.data(Qt::FontRole); f.isValid())
                    cellFont = f.value<QFont>().resolve(cellFont);
                const QString text = index.data().toString();
                QVERIFY2(QFontMetrics(cellFont).horizontalAdvance(text) + margin <= grid->columnWidth(column),
                    qPrintable(QStringLiteral("%1 in column %2").arg(text, title)));
            }
        }
        keepPicture(calls, QStringLiteral("chamadas-%1pt").arg(points));
    }

    // F1's caption ends in blanks (kept in its text): they must not push the
    // words over the button's border. The words are drawn where the same
    // button without the blanks draws them, and they fit inside its frame.
    void theActivateCaptionStaysInItsButton_data() { addSizes(); }
    void theActivateCaptionStaysInItsButton()
    {
        QFETCH(int, points);
        QFont font = m_startFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        WindowFixture fx;
        QVERIFY(fx.start());
        auto *button = fx.control<QPushButton>("Command1");
        QCOMPARE(button->text(), QStringLiteral("F1 - Ativar       "));
        QPushButton plain(button->text().trimmed(), button->parentWidget());
        plain.setFont(button->font());
        plain.setPalette(button->palette());
        plain.setAutoFillBackground(button->autoFillBackground());
        plain.setGeometry(button->geometry());
        QStyleOptionButton option;
        option.initFrom(&plain);
        option.text = plain.text();
        const QRect inside = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, &plain);
        QVERIFY(QFontMetrics(button->font()).horizontalAdvance(plain.text()) <= inside.width());
        QCOMPARE(button->grab().toImage(), plain.grab().toImage());
        keepPicture(button->window(), QStringLiteral("janela-%1pt").arg(points));
    }

    // A sound device that fails: the reason, however long, is read whole
    // under "Testar", wrapped over as many lines as it needs.
    void theTestReasonIsReadWhole_data() { addSizes(); }
    void theTestReasonIsReadWhole()
    {
        QFETCH(int, points);
        QFont font = m_startFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        class Failing : public AudioCapture
        {
        public:
            bool open(const QString &, int, QString *error) override
            {
                *error = QStringLiteral("Sem som da linha: o servidor de som não abriu a entrada (Connection "
                                        "refused: the PulseAudio daemon at unix:/run/user/1000/pulse/native "
                                        "is not running or refused the client).");
                return false;
            }
            bool read(int16_t *, size_t, QString *) override { return false; }
        };
        AudioCapture::setFactory([] { return std::make_unique<Failing>(); });
        QTemporaryDir dir;
        CallerIdSetupDialog dialog(dir.path());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.findChild<QPushButton *>(QStringLiteral("testar"))->click();
        auto *state = dialog.findChild<QLabel *>(QStringLiteral("estadoTeste"));
        QTRY_VERIFY(state->text().contains(QLatin1String("Sem som")));
        QTRY_VERIFY2(state->height() >= state->heightForWidth(state->width()),
            qPrintable(QStringLiteral("%1 < %2").arg(state->height()).arg(state->heightForWidth(state->width()))));
        // Nothing of it hidden by the page it is on.
        const QRect shown(state->mapTo(&dialog, QPoint(0, 0)), state->size());
        QVERIFY(dialog.rect().contains(shown));
        keepPicture(&dialog, QStringLiteral("configurar-%1pt").arg(points));
        dialog.findChild<QPushButton *>(QStringLiteral("testar"))->click();
        AudioCapture::setFactory({});
    }

    // The window's buttons and labels at every font and scale.
    void theWindowsTextsFit_data() { addSizes(); }
    void theWindowsTextsFit()
    {
        QFETCH(int, points);
        QFont font = m_startFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        WindowFixture fx;
        QVERIFY(fx.start());
        verifyTextsFit(fx.window());
    }

    // The first-run assistant, page by page.
    void theAssistantsTextsFit_data() { addSizes(); }
    void theAssistantsTextsFit()
    {
        QFETCH(int, points);
        QFont font = m_startFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        QTemporaryDir dir;
        FirstRunAssistant assistant(dir.filePath(QStringLiteral("dados")), QString());
        assistant.show();
        QVERIFY(QTest::qWaitForWindowExposed(&assistant));
        assistant.findChild<QLineEdit *>(QStringLiteral("local"))->setText(QStringLiteral("Balcão"));
        assistant.findChild<QLineEdit *>(QStringLiteral("ddd"))->setText(QStringLiteral("11"));
        // Each choice of the register's page shows fields of its own.
        for (const char *choice : { "cadastroAccess", "cadastroServidor" })
            assistant.findChild<QAbstractButton *>(QLatin1String(choice))->setChecked(true);
        for (int page : { FirstRunAssistant::SitePage, FirstRunAssistant::AreaCodePage, FirstRunAssistant::RegisterPage,
                 FirstRunAssistant::LinePage }) {
            QCOMPARE(assistant.currentId(), page);
            // It grows to its page once the page is laid out.
            QWizardPage *shown = assistant.currentPage();
            QTRY_VERIFY(shown->width() >= shown->layout()->totalMinimumSize().width()
                && shown->height() >= shown->layout()->totalHeightForWidth(shown->width()));
            verifyTextsFit(shown);
            keepPicture(&assistant, QStringLiteral("assistente%1-%2pt").arg(page + 1).arg(points));
            // A new register: the others ask for a file or a server first.
            assistant.findChild<QAbstractButton *>(QStringLiteral("cadastroNovo"))->setChecked(true);
            assistant.next();
        }
    }

    // The calls window's button, added to the designed window: on none of
    // the designed controls' boxes, inside the window, its caption inside it.
    void theCallsButtonCoversNoDesignedBox()
    {
        WindowFixture fx;
        QVERIFY(fx.start());
        auto *button = fx.control<QPushButton>("chamadas");
        const QRect client(0, 0, 645, 500);
        QVERIFY(client.contains(button->geometry()));
        for (QWidget *other : fx.window()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (other != button && !other->isWindow() && other->geometry().intersects(client))
                QVERIFY2(!other->geometry().intersects(button->geometry()), qPrintable(other->objectName()));
        }
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect inside = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        QVERIFY2(QFontMetrics(button->font()).horizontalAdvance(button->text()) <= inside.width(),
            qPrintable(QStringLiteral("%1 > %2")
                           .arg(QFontMetrics(button->font()).horizontalAdvance(button->text()))
                           .arg(inside.width())));
    }
};

QTEST_MAIN(TestLooks)
#include "TestLooks.moc"
