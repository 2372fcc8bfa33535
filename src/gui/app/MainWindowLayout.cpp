#include "gui/app/MainWindowLayout.h"

#include "core/contacts/ContactListModel.h"
#include "gui/app/AppIcon.h"
#include "gui/app/CaptionButton.h"
#include "gui/callerid/CallerIdControl.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

namespace {

const QColor Blue = MainWindowLayout::Blue;
const QColor LightYellow = MainWindowLayout::LightYellow;
const char DesignRect[] = "designRect";

QFont designFont(const QString &family, qreal points, bool bold = false)
{
    QFont f(family);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QFont arialSmall()
{
    return designFont(QStringLiteral("Arial"), 6.75);
}

QFont msSansSerif(qreal points = 8.25, bool bold = false)
{
    return designFont(QStringLiteral("MS Sans Serif"), points, bold);
}

void setTextColor(QWidget *w, const QColor &color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, color);
    w->setPalette(pal);
}

// A button of a fixed light colour gets dark text with it, whatever the
// desktop's theme.
void setButtonColor(QPushButton *b, const QColor &color)
{
    QPalette pal = b->palette();
    pal.setColor(QPalette::Button, color);
    pal.setColor(QPalette::ButtonText, Qt::black);
    b->setPalette(pal);
    b->setAutoFillBackground(true);
}

template <class W> W *make(QWidget *parent, const char *name, const QRect &rect)
{
    auto *w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(rect);
    return w;
}

QLabel *captionLabel(QWidget *parent, const QString &text, const QRect &rect, const QColor &color, int index)
{
    auto *label = make<QLabel>(parent, "Label2", rect);
    label->setProperty("index", index);
    label->setText(text);
    label->setFont(arialSmall());
    if (color.isValid()) // else the desktop's text colour on the desktop's background
        setTextColor(label, color);
    return label;
}

QLineEdit *field(QWidget *parent, const char *name, const QRect &rect, int maxLength = 32767)
{
    auto *edit = make<QLineEdit>(parent, name, rect);
    edit->setMaxLength(maxLength);
    edit->setFont(msSansSerif());
    return edit;
}

// Places on a tab page are given from the tab control's own corner, tab strip
// included; the page is moved down by the strip, so a child is placed at its
// design place less the page's offset.
void placeOnTab(QWidget *page, QWidget *child, const QRect &rectFromTabControl)
{
    child->setParent(page);
    child->setProperty(DesignRect, rectFromTabControl);
    child->setGeometry(rectFromTabControl);
}

} // namespace

MainWindowControls MainWindowLayout::build(QWidget *window, QAbstractItemModel *model)
{
    MainWindowControls ui;
    window->setObjectName(QStringLiteral("ZUNA"));
    window->setWindowTitle(QString());
    window->setWindowIcon(AppIcon::icon()); // sharp at any scale
    window->resize(645, 500);
    window->setFont(msSansSerif());
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, Blue);
    window->setPalette(pal);
    window->setAutoFillBackground(true);

    buildCallerIdArea(window, ui);
    buildEditor(window, ui);
    buildGrid(window, model, ui);

    ui.notice = make<QLabel>(window, "Label1", { 7, 483, 568, 15 });
    ui.notice->setText(QStringLiteral("ATENÇÃO - SÓ FUNCIONA COM O ZUNA  MICDTMF  "));
    ui.notice->setFont(msSansSerif());
    setTextColor(ui.notice, Qt::white);
    // The calls window's button: in the bottom right corner, right of the
    // notice's box and under the grid's, clear of every designed control.
    // The corner is narrow: the caption is the window's name, F4 its tip.
    ui.callsButton = make<QPushButton>(window, "chamadas", { 577, 475, 66, 23 });
    ui.callsButton->setText(QStringLiteral("Chamadas"));
    ui.callsButton->setToolTip(QStringLiteral("Chamadas recebidas (F4)"));
    ui.callsButton->setFocusPolicy(Qt::ClickFocus); // F4 from the keyboard; Tab keeps the window's own order
    ui.callsButton->raise();

    // Never seen: the code label, the configuration button and the site text.
    ui.codeLabel = make<QLabel>(window, "CD", { -72, 8, 65, 17 });
    ui.codeLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    ui.codeLabel->setAutoFillBackground(true);
    ui.codeLabel->setPalette(QApplication::palette());
    ui.codeLabel->hide();
    ui.setupButton = make<QPushButton>(window, "Command2", { 8, 520, 169, 25 });
    ui.setupButton->setText(QStringLiteral("Abrir tela de configuração"));
    ui.setupButton->hide();
    ui.siteName = make<QLineEdit>(window, "SITE", { 8, 560, 169, 21 });
    ui.siteName->hide();

    setTabOrder(ui);
    return ui;
}

void MainWindowLayout::buildCallerIdArea(QWidget *window, MainWindowControls &ui)
{
    captionLabel(window, QStringLiteral("LIGAÇÃO RECEBIDA:"), { 8, 8, 94, 12 }, Qt::white, 0);
    ui.callerId = make<CallerIdControl>(window, "micDTMFoCx1", { 8, 24, 169, 21 });

    // The line's state, beside the tab strip where it hides nothing: the
    // display keeps the last number.
    ui.lineStatus = make<QLabel>(window, "statusLinha", { 392, 8, 241, 18 });
    ui.lineStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ui.lineStatus->setFont(arialSmall());
    ui.lineStatus->setAutoFillBackground(true);
    ui.lineStatus->setTextFormat(Qt::PlainText); // servers' words are never markup
    ui.lineStatus->hide();
    // Over the status line while a call waits beside the attendant's work.
    ui.waitingCall = make<QLabel>(window, "chamadaEmEspera", { 392, 8, 241, 18 });
    ui.waitingCall->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ui.waitingCall->setFont(arialSmall());
    ui.waitingCall->setTextFormat(Qt::PlainText);
    ui.waitingCall->setAutoFillBackground(true);
    QPalette waiting = ui.waitingCall->palette();
    waiting.setColor(QPalette::Window, LightYellow);
    waiting.setColor(QPalette::WindowText, Qt::black);
    ui.waitingCall->setPalette(waiting);
    ui.waitingCall->hide();

    // Its caption ends in blanks, drawn without them: they would push it over the border.
    ui.activateButton = make<CaptionButton>(window, "Command1", { 8, 56, 81, 21 });
    ui.activateButton->setText(QStringLiteral("F1 - Ativar       "));
    ui.deactivateButton = make<QPushButton>(window, "Command5", { 96, 56, 81, 21 });
    ui.deactivateButton->setText(QStringLiteral("F2 - Desativar"));
    ui.incomingNumber = field(window, "Text1", { 8, 96, 169, 21 });
    ui.clearButton = make<QPushButton>(window, "Command3", { 8, 136, 169, 21 });
    ui.clearButton->setText(QStringLiteral("F3 - Limpar"));

    captionLabel(window, QStringLiteral("DDD:"), { 8, 160, 24, 12 }, Qt::white, 1);
    ui.areaCode = field(window, "Text11", { 8, 176, 25, 25 }, 2);
    ui.areaCode->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), ui.areaCode));
    ui.contactCount = make<QLabel>(window, "NXR", { 40, 176, 57, 25 });
    ui.contactCount->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextColor(ui.contactCount, Qt::white);

    ui.helpButton = make<QPushButton>(window, "Command7", { 104, 176, 73, 25 });
    ui.helpButton->setIcon(QIcon(QStringLiteral(":/images/ajuda.svg"))); // drawn at the screen's scale
    ui.helpButton->setIconSize(QSize(63, 21));
    ui.helpButton->setToolTip(QStringLiteral("Ajuda"));
    setButtonColor(ui.helpButton, Qt::white);
}

void MainWindowLayout::buildEditor(QWidget *window, MainWindowControls &ui)
{
    ui.tabs = make<QTabWidget>(window, "SSTab1", { 184, 8, 449, 193 });
    ui.tabs->tabBar()->setFont(msSansSerif(9.75, true));
    // Its tab strip takes the focus in the tab order; the control itself must
    // not take it a second time.
    ui.tabs->setFocusPolicy(Qt::NoFocus);
    ui.tabs->tabBar()->setFocusPolicy(Qt::TabFocus);
    auto *cadastro = new QWidget;
    cadastro->setObjectName(QStringLiteral("Cadastro"));
    auto *observacoes = new QWidget;
    observacoes->setObjectName(QStringLiteral("Observacoes"));
    ui.tabs->addTab(cadastro, QStringLiteral("Cadastro"));
    ui.tabs->addTab(observacoes, QStringLiteral("Observações"));
    ui.tabs->setCurrentIndex(0);

    struct Caption
    {
        const char *text;
        QPoint at;
    };
    const Caption captions[] = {
        { "TELEFONE: (00)0000-0000", { 8, 32 } },
        { "NOME DO CONTATO:", { 136, 32 } },
        { "ENDEREÇO:", { 8, 72 } },
        { "COMPLEMENTO:", { 8, 112 } },
        { "BAIRRO:", { 88, 112 } },
        { "CIDADE:", { 184, 112 } },
        { "UF:", { 328, 112 } },
        { "CEP:", { 368, 112 } },
    };
    int index = 2;
    for (const Caption &c : captions) {
        const QString text = QString::fromUtf8(c.text);
        QLabel *label = captionLabel(cadastro, text, {}, QColor(), index++);
        label->adjustSize();
        placeOnTab(cadastro, label, QRect(c.at, label->size()));
    }

    auto tabField = [cadastro](const char *name, const QRect &rect, int maxLength = 32767) {
        QLineEdit *edit = field(cadastro, name, rect, maxLength);
        placeOnTab(cadastro, edit, rect);
        return edit;
    };
    ui.phone = tabField("A4", { 8, 48, 113, 21 });
    ui.name = tabField("A1", { 136, 48, 297, 21 });
    ui.address = tabField("A9", { 8, 88, 425, 21 });
    ui.complement = tabField("A10", { 8, 128, 73, 21 });
    ui.district = tabField("A11", { 88, 128, 89, 21 });
    ui.city = tabField("A12", { 184, 128, 137, 21 });
    ui.state = tabField("A13", { 328, 128, 33, 21 }, 2);
    ui.postcode = tabField("A14", { 368, 128, 65, 21 }, 9);

    ui.saveButton = make<QPushButton>(cadastro, "Command4", {});
    ui.saveButton->setText(QStringLiteral("GRAVA"));
    setButtonColor(ui.saveButton, LightYellow);
    placeOnTab(cadastro, ui.saveButton, { 232, 160, 97, 25 });
    ui.deleteButton = make<QPushButton>(cadastro, "Command6", {});
    ui.deleteButton->setText(QStringLiteral("APAGA"));
    setButtonColor(ui.deleteButton, LightYellow);
    placeOnTab(cadastro, ui.deleteButton, { 336, 160, 97, 25 });

    ui.notes = make<QPlainTextEdit>(observacoes, "OB", {});
    ui.notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui.notes->setTabChangesFocus(true);
    ui.notes->setFont(msSansSerif());
    placeOnTab(observacoes, ui.notes, { 8, 32, 425, 149 });
}

void MainWindowLayout::buildGrid(QWidget *window, QAbstractItemModel *model, MainWindowControls &ui)
{
    ui.grid = make<QTableView>(window, "DBGrid1", { 8, 208, 625, 265 });
    ui.grid->setModel(model);
    ui.grid->setFont(msSansSerif());
    ui.grid->horizontalHeader()->setFont(msSansSerif());
    ui.grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui.grid->setTabKeyNavigation(false); // Tab leaves the grid for the next control
    // Rows are marked as they become current (markCurrentRow), not by
    // the attendant's clicks.
    ui.grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui.grid->setSelectionMode(QAbstractItemView::NoSelection);
    ui.grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui.grid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui.grid->horizontalHeader()->setStretchLastSection(false);
    ui.grid->horizontalHeader()->setHighlightSections(false);
    ui.grid->verticalHeader()->setFixedWidth(16); // the record selector column
    ui.grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui.grid->verticalHeader()->setDefaultSectionSize(17);
    ui.grid->setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(64, 64, 64); }"));
    ui.grid->setPalette(QApplication::palette());
    // Over the grid, while the register cannot be read: says so, without
    // stopping the attendant, until a retry succeeds.
    ui.registerNotice = make<QLabel>(window, "avisoCadastro", { 16, 232, 609, 40 });
    ui.registerNotice->setWordWrap(true);
    ui.registerNotice->setTextFormat(Qt::PlainText); // a server's words are never markup
    ui.registerNotice->setAlignment(Qt::AlignCenter);
    ui.registerNotice->setAutoFillBackground(true);
    QPalette notice = ui.registerNotice->palette();
    notice.setColor(QPalette::Window, LightYellow);
    notice.setColor(QPalette::WindowText, Qt::black);
    ui.registerNotice->setPalette(notice);
    ui.registerNotice->setFrameStyle(QFrame::Box | QFrame::Plain);
    ui.registerNotice->hide();

    const int widths[ContactListModel::ColumnCount] = { 43, 248, 108, 303, 143, 38 };
    for (int c = 0; c < ContactListModel::ColumnCount; ++c)
        ui.grid->setColumnWidth(c, widths[c]);
}

void MainWindowLayout::setTabOrder(const MainWindowControls &ui)
{
    // Text1 0, Command1 1, Text11 3, Command5 5, Command3 8, DBGrid1 9,
    // Command7 19, SSTab1 20, A4 21 ... A14 28, Command4 29, Command6 30, OB 39.
    // The tab control takes the focus on its tab strip.
    const QList<QWidget *> order = { ui.incomingNumber, ui.activateButton, ui.areaCode, ui.deactivateButton,
        ui.clearButton, ui.grid, ui.helpButton, ui.tabs->tabBar(), ui.phone, ui.name, ui.address, ui.complement,
        ui.district, ui.city, ui.state, ui.postcode, ui.saveButton, ui.deleteButton, ui.notes };
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindowLayout::placeTabPageChildren(QTabWidget *tabs)
{
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget *page = tabs->widget(i);
        const QPoint offset = page->mapTo(tabs, QPoint(0, 0));
        for (QWidget *child : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            const QVariant rect = child->property(DesignRect);
            if (rect.isValid())
                child->setGeometry(rect.toRect().translated(-offset));
        }
    }
}

void MainWindowLayout::setFieldBackground(QLineEdit *field, const QColor &color)
{
    QPalette pal = field->palette();
    pal.setColor(QPalette::Base, color);
    pal.setColor(QPalette::Text, Qt::black);
    pal.setColor(QPalette::PlaceholderText, Qt::darkGray);
    field->setPalette(pal);
}
