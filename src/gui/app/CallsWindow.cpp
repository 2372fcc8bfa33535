#include "gui/app/CallsWindow.h"

#include "core/callerid/OutsideText.h"
#include "gui/app/CallListModel.h"
#include "gui/app/CallLog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

namespace {
const QString Searching = QStringLiteral("Procurando chamadas...");
} // namespace

CallsWindow::CallsWindow(Register *reg, CallLog *log, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_log(log)
    , m_model(new CallListModel(this))
    , m_today(new QCheckBox(QStringLiteral("hoje"), this))
    , m_unknownOnly(new QCheckBox(QStringLiteral("não cadastrados"), this))
    , m_text(new QLineEdit(this))
    , m_grid(new QTableView(this))
    , m_notice(new QLabel(this))
{
    setObjectName(QStringLiteral("Chamadas"));
    setWindowTitle(QStringLiteral("Chamadas - Zuna"));
    resize(640, 420);
    m_model->setRegister(reg);
    m_today->setObjectName(QStringLiteral("hoje"));
    m_unknownOnly->setObjectName(QStringLiteral("naoCadastrados"));
    m_text->setObjectName(QStringLiteral("filtroChamadas"));
    m_text->setPlaceholderText(QStringLiteral("número ou nome"));
    m_text->setClearButtonEnabled(true);
    m_grid->setObjectName(QStringLiteral("gridChamadas"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(false);
    m_grid->horizontalHeader()->setSectionResizeMode(CallListModel::Name, QHeaderView::Stretch);
    fitColumns();
    m_grid->installEventFilter(this);
    m_notice->setObjectName(QStringLiteral("avisoChamadas"));
    m_notice->setTextFormat(Qt::PlainText); // a server's words among them
    m_notice->setWordWrap(true);
    m_notice->hide();

    auto *filters = new QHBoxLayout;
    filters->addWidget(m_today);
    filters->addWidget(m_unknownOnly);
    auto *find = new QLabel(QStringLiteral("&Procurar:"), this);
    find->setBuddy(m_text);
    filters->addSpacing(12);
    filters->addWidget(find);
    filters->addWidget(m_text, 1);
    auto *hint = new QLabel(
        QStringLiteral("Enter ou duplo clique: abre o contato de quem ligou, ou prepara o número para cadastrar."),
        this);
    hint->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_notice);
    layout->addWidget(m_grid, 1);
    layout->addWidget(hint);
    setTabOrder(m_today, m_unknownOnly);
    setTabOrder(m_unknownOnly, m_text);
    setTabOrder(m_text, m_grid);

    connect(m_today, &QCheckBox::toggled, this, &CallsWindow::applyFilter);
    connect(m_unknownOnly, &QCheckBox::toggled, this, &CallsWindow::applyFilter);
    connect(m_text, &QLineEdit::textChanged, this, &CallsWindow::applyFilter);
    connect(m_grid, &QTableView::doubleClicked, this, &CallsWindow::pickCurrentCall);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CallsWindow::fitColumns);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &CallsWindow::fitColumns);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &CallsWindow::fitColumns);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &CallsWindow::fitColumns);
    connect(m_model, &CallListModel::readFailed, this, &CallsWindow::showTrouble);
    // A page read in the background: said so until it comes.
    connect(m_model, &CallListModel::searchingChanged, this, [this](bool searching) {
        if (searching) {
            m_notice->setText(Searching);
            m_notice->setToolTip({});
            m_notice->show();
        } else if (m_notice->text() == Searching) {
            m_notice->hide();
        }
    });
}

void CallsWindow::showLog(qint64 selected)
{
    applyFilter();
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    const int row = selected > 0 ? m_model->rowOf(selected) : (m_model->rowCount() > 0 ? 0 : -1);
    if (row >= 0) {
        m_grid->setCurrentIndex(m_model->index(row, CallListModel::Date));
        m_grid->setFocus();
    }
}

void CallsWindow::refresh()
{
    if (!isVisible())
        return;
    const QModelIndex current = m_grid->currentIndex();
    const qint64 id = current.isValid() ? m_model->call(current.row()).id : 0;
    applyFilter();
    if (const int row = id > 0 ? m_model->rowOf(id) : -1; row >= 0)
        m_grid->setCurrentIndex(m_model->index(row, current.column()));
}

void CallsWindow::applyFilter()
{
    CallFilter filter;
    if (m_today->isChecked())
        filter.since = QDateTime(QDate::currentDate(), QTime(0, 0));
    filter.unknownOnly = m_unknownOnly->isChecked();
    filter.text = m_text->text();
    QString error;
    if (!m_model->setFilter(filter, &error))
        showTrouble(error);
    else if (!m_model->isSearching())
        m_notice->hide();
}

void CallsWindow::pickCurrentCall()
{
    const QModelIndex current = m_grid->currentIndex();
    if (current.isValid())
        emit callPicked(m_model->call(current.row()));
}

void CallsWindow::showTrouble(const QString &error)
{
    m_notice->setText(
        QStringLiteral("Não foi possível ler as chamadas. %1").arg(error.section(QLatin1Char('\n'), 0, 0)));
    m_notice->setToolTip(OutsideText::toolTip(error));
    m_notice->show();
}

void CallsWindow::fitColumns()
{
    // The widest each column can hold, in bold as a new call is shown, with
    // the widest digit everywhere: a column does not grow as calls come in.
    QFont bold = m_grid->font();
    bold.setBold(true);
    const QFontMetrics strong(bold), plain(m_grid->font());
    QChar widestDigit = QLatin1Char('0');
    for (char d = '1'; d <= '9'; ++d) {
        if (strong.horizontalAdvance(QLatin1Char(d)) > strong.horizontalAdvance(widestDigit))
            widestDigit = QLatin1Char(d);
    }
    const auto sample = [&](QString text) {
        for (QChar &c : text) {
            if (c.isDigit())
                c = widestDigit;
        }
        return text;
    };
    // The item delegate's text margin on either side, and a pixel for the grid line.
    const int margin = 2 * (m_grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_grid) + 1) + 1;
    const std::pair<CallListModel::Column, QStringList> columns[] = {
        { CallListModel::New, { QStringLiteral("nova") } },
        { CallListModel::Date, { sample(QStringLiteral("00/00/0000")) } },
        { CallListModel::Time, { sample(QStringLiteral("00:00:00")) } },
        { CallListModel::Number, { sample(QStringLiteral("(00)00000-0000")) } },
        { CallListModel::InRegister, { QStringLiteral("sim"), QStringLiteral("não") } },
    };
    QHeaderView *header = m_grid->horizontalHeader();
    for (const auto &[column, texts] : columns) {
        int width = header->sectionSizeHint(column);
        for (const QString &text : texts)
            width = std::max(width, strong.horizontalAdvance(text) + margin);
        // What the rows listed hold (a number from abroad is longer).
        for (int row = 0; row < std::min(m_model->rowCount(), 500); ++row) {
            const QModelIndex index = m_model->index(row, column);
            const QFontMetrics metrics(index.data(Qt::FontRole).isValid() ? strong : plain);
            width = std::max(width, metrics.horizontalAdvance(index.data().toString()) + margin);
        }
        m_grid->setColumnWidth(column, width);
    }
}

bool CallsWindow::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitColumns();
    // Seen: the calls that were new are shown as such while the window is
    // looked at, and no longer counted as new.
    if (event->type() == QEvent::WindowActivate && m_log)
        m_model->setNewCalls(m_log->markSeen());
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::event(event);
}

bool CallsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            pickCurrentCall();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
