#include "TestSupport.h"

#include "gui/app/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>

// The window under a light and a dark desktop palette: every colour the
// window fixes comes with a text colour that reads on it. Screenshots of both
// are left in screens/ beside the test for a look.
class TestThemes : public QObject
{
    Q_OBJECT

    static double luminance(const QColor &c)
    {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    }

    // WCAG's contrast ratio, 1 to 21.
    static double contrast(const QColor &a, const QColor &b)
    {
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    }

    static QPalette dark()
    {
        QPalette p;
        const QColor window(45, 45, 48), text(230, 230, 230), base(30, 30, 30), button(60, 60, 64);
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            p.setColor(group, QPalette::Window, window);
            p.setColor(group, QPalette::WindowText, text);
            p.setColor(group, QPalette::Base, base);
            p.setColor(group, QPalette::AlternateBase, window);
            p.setColor(group, QPalette::Text, text);
            p.setColor(group, QPalette::Button, button);
            p.setColor(group, QPalette::ButtonText, text);
            p.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
            p.setColor(group, QPalette::HighlightedText, Qt::white);
            p.setColor(group, QPalette::Light, button.lighter(150));
            p.setColor(group, QPalette::Midlight, button.lighter(120));
            p.setColor(group, QPalette::Mid, button.darker(120));
            p.setColor(group, QPalette::Dark, button.darker(150));
            p.setColor(group, QPalette::Shadow, Qt::black);
        }
        return p;
    }

private slots:
    void everyFixedColourReadsUnderTheDesktopsTheme_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("claro") << QApplication::style()->standardPalette();
        QTest::newRow("escuro") << dark();
    }

    void everyFixedColourReadsUnderTheDesktopsTheme()
    {
        QFETCH(QPalette, palette);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(palette);
        {
            WindowFixture fx;
            fx.data().addContact(
                fx.data().contact(QStringLiteral("Ângela Conceição"), QStringLiteral("(11)3333-4444")));
            QVERIFY(fx.start());
            MainWindow *w = fx.window();
            fx.control<QLineEdit>("Text1")->setFocus(); // one field yellow, the others white

            // Each pair of a background the window fixes and the text drawn on it.
            QStringList failures;
            auto check = [&](const QWidget *widget, const QColor &background, const QColor &text) {
                const double ratio = contrast(background, text);
                if (ratio < 4.5)
                    failures << QStringLiteral("%1 \"%2\": %3 on %4, %5:1")
                                    .arg(widget->objectName(), widget->property("text").toString(), text.name(),
                                        background.name())
                                    .arg(ratio, 0, 'f', 2);
            };
            int pairs = 0;
            for (const QLineEdit *field : w->findChildren<QLineEdit *>()) {
                check(field, field->palette().color(QPalette::Base), field->palette().color(QPalette::Text));
                ++pairs;
            }
            for (const QPushButton *button : w->findChildren<QPushButton *>()) {
                if (!button->autoFillBackground())
                    continue;
                check(button, button->palette().color(QPalette::Button), button->palette().color(QPalette::ButtonText));
                ++pairs;
            }
            for (const QLabel *label : w->findChildren<QLabel *>()) {
                // A label that paints its own background, or one drawn straight
                // on the window's blue.
                const QWidget *ground = label->autoFillBackground() ? label
                    : label->parentWidget() == w                    ? static_cast<const QWidget *>(w)
                                                                    : nullptr;
                if (!ground)
                    continue;
                check(label, ground->palette().color(QPalette::Window), label->palette().color(QPalette::WindowText));
                ++pairs;
            }
            QVERIFY(pairs > 20);
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));

            QDir().mkpath(QStringLiteral("screens"));
            const QString shot
                = QStringLiteral("screens/zuna-%1.png").arg(QString::fromLatin1(QTest::currentDataTag()));
            QVERIFY(w->grab().save(shot));
            qInfo("screenshot: %s", qPrintable(QDir(QStringLiteral("screens")).absoluteFilePath(shot.mid(8))));
        }
        QApplication::setPalette(before);
    }

    void picturesAreSharpAtTwiceTheScale()
    {
        WindowFixture fx;
        QVERIFY(fx.start());
        // Drawn from their vector pictures at the screen's scale, not a
        // small bitmap blown up.
        const auto *help = fx.control<QPushButton>("Command7");
        const QPixmap twice = help->icon().pixmap(help->iconSize(), 2.0);
        QCOMPARE(twice.size(), help->iconSize() * 2);
        QCOMPARE(fx.window()->windowIcon().pixmap(QSize(128, 128)).size(), QSize(128, 128));
    }

    // At 16 px (title bars, task lists, menus) the window shows the picture
    // drawn for that size, not the large one shrunk into a smudge.
    void theSmallIconIsTheOneDrawnForItsSize()
    {
        WindowFixture fx;
        QVERIFY(fx.start());
        const QImage shown = fx.window()->windowIcon().pixmap(QSize(16, 16), 1.0).toImage();
        const QImage drawn = QIcon(QStringLiteral(":/images/telefone-16.svg")).pixmap(QSize(16, 16), 1.0).toImage();
        const QImage shrunk = QIcon(QStringLiteral(":/images/telefone.svg")).pixmap(QSize(16, 16), 1.0).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32), drawn.convertToFormat(QImage::Format_ARGB32));
        QVERIFY(drawn.convertToFormat(QImage::Format_ARGB32) != shrunk.convertToFormat(QImage::Format_ARGB32));
    }
};

QTEST_MAIN(TestThemes)
#include "TestThemes.moc"
