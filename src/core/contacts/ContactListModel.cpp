#include "core/contacts/ContactListModel.h"

#include <QElapsedTimer>
#include <QHash>

#include <algorithm>

namespace {
int g_windowBudgetMs = ContactListModel::DefaultWindowBudgetMs;
} // namespace

void ContactListModel::setWindowBudgetMs(int ms)
{
    g_windowBudgetMs = ms;
}

int ContactListModel::windowBudgetMs()
{
    return g_windowBudgetMs;
}

ContactListModel::ContactListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

ContactListModel::~ContactListModel() = default;

void ContactListModel::setRegister(const Register *reg)
{
    ++m_generation; // a page still on its way belongs to the register before
    m_worker.reset();
    m_reader.reset();
    m_register = reg;
    beginResetModel();
    m_rows.clear();
    m_atEnd = true;
    endResetModel();
}

bool ContactListModel::openConnection(QString *error)
{
    if (!m_register) {
        *error = QStringLiteral("Nenhum cadastro aberto.");
        return false;
    }
    if (!m_reader)
        m_reader = m_register->reader();
    return m_reader->isOpen(error);
}

bool ContactListModel::refresh(QString *error)
{
    m_pattern = {};
    return reload(error);
}

bool ContactListModel::search(const QString &typedName, QString *error)
{
    m_pattern = NamePattern::fromTyped(typedName);
    return reload(error);
}

bool ContactListModel::reread(QString *error)
{
    if (m_searching) // the page on its way is read after the change
        return true;
    if (!openConnection(error))
        return false;
    const int limit = std::max(int(m_rows.size()), int(PageSize));
    QList<Register::ListRow> fresh;
    bool tooLong = false;
    if (g_windowBudgetMs > 0) {
        Register::Limits limits;
        limits.budgetMs = g_windowBudgetMs;
        limits.tooLong = &tooLong;
        if (m_reader->listPage(m_pattern, nullptr, limit, &fresh, error, limits)) {
            readable();
            follow(fresh, fresh.size() < limit);
            return true;
        }
        if (!tooLong)
            return false;
    }
    if (!m_worker)
        m_worker = std::make_unique<ReaderWorker>(*m_register);
    m_searching = true;
    auto page = std::make_shared<QList<Register::ListRow>>();
    m_worker->request(
        ++m_generation,
        [pattern = m_pattern, limit, page](Register::Reader &reader, const Register::Limits &limits, QString *error) {
            return reader.listPage(pattern, nullptr, limit, page.get(), error, limits);
        },
        this,
        [this, page, limit](bool ok, const QString &error) {
            m_searching = false;
            if (!ok) {
                m_troubled = true;
                emit failed(error);
                return;
            }
            readable();
            follow(*page, page->size() < limit);
        });
    return true;
}

void ContactListModel::follow(const QList<Register::ListRow> &fresh, bool atEnd)
{
    // Both lists are in the same order (name key, then code): once the rows
    // that went away or changed their key are out, what is left of the old
    // list is a part of the new one in the same order, and the new rows go
    // in between.
    QHash<qint64, const Register::ListRow *> byCode;
    byCode.reserve(fresh.size());
    for (const Register::ListRow &row : fresh)
        byCode.insert(row.cd, &row);
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        const Register::ListRow *now = byCode.value(m_rows.at(i).cd);
        if (!now || now->key != m_rows.at(i).key) {
            beginRemoveRows({}, i, i);
            m_rows.removeAt(i);
            endRemoveRows();
        }
    }
    for (int i = 0; i < fresh.size(); ++i) {
        const Register::ListRow &row = fresh.at(i);
        if (i < m_rows.size() && m_rows.at(i).cd == row.cd) {
            const Register::ListRow &old = m_rows.at(i);
            if (old.a1 != row.a1 || old.a4 != row.a4 || old.a9 != row.a9 || old.a12 != row.a12 || old.a13 != row.a13) {
                m_rows[i] = row;
                emit dataChanged(index(i, 0), index(i, ColumnCount - 1));
            }
            continue;
        }
        beginInsertRows({}, i, i);
        m_rows.insert(i, row);
        endInsertRows();
    }
    m_atEnd = atEnd;
}

bool ContactListModel::readPage(const Register::ListRow *after, QList<Register::ListRow> *page, bool *tooLong,
    RegisterProblem *problem, QString *error)
{
    *tooLong = false;
    *problem = RegisterProblem::None;
    if (g_windowBudgetMs <= 0) {
        *tooLong = true;
        return false;
    }
    Register::Limits limits;
    limits.budgetMs = g_windowBudgetMs;
    limits.tooLong = tooLong;
    limits.problem = problem;
    return m_reader->listPage(m_pattern, after, PageSize, page, error, limits);
}

bool ContactListModel::reload(QString *error)
{
    if (!openConnection(error))
        return false;
    ++m_generation;
    if (m_worker)
        m_worker->cancel(m_generation);
    m_searching = false;
    QList<Register::ListRow> page;
    bool tooLong = false;
    RegisterProblem problem = RegisterProblem::None;
    const bool ok = readPage(nullptr, &page, &tooLong, &problem, error);
    beginResetModel();
    m_rows = ok ? page : QList<Register::ListRow>();
    m_atEnd = !ok || page.size() < PageSize;
    endResetModel();
    if (tooLong) {
        readPageInBackground(std::nullopt);
        if (problem == RegisterProblem::Busy)
            waitFor(*error);
        return true;
    }
    if (ok)
        readable();
    return ok;
}

void ContactListModel::readPageInBackground(std::optional<Register::ListRow> after)
{
    if (!m_worker)
        m_worker = std::make_unique<ReaderWorker>(*m_register);
    m_searching = true;
    const bool first = !after;
    auto page = std::make_shared<QList<Register::ListRow>>();
    m_worker->request(
        m_generation,
        [pattern = m_pattern, after = std::move(after), page](
            Register::Reader &reader, const Register::Limits &limits, QString *error) {
            return reader.listPage(pattern, after ? &*after : nullptr, PageSize, page.get(), error, limits);
        },
        this, [this, first, page](bool ok, const QString &error) { pageArrived(first, ok, *page, error); });
}

void ContactListModel::waitFor(const QString &why)
{
    m_troubled = true;
    emit waiting(why);
}

void ContactListModel::readable()
{
    if (std::exchange(m_troubled, false))
        emit recovered();
}

void ContactListModel::pageArrived(bool first, bool ok, const QList<Register::ListRow> &page, const QString &error)
{
    m_searching = false;
    m_atEnd = !ok || page.size() < PageSize;
    if (!ok) {
        m_troubled = true;
        emit failed(error);
        return;
    }
    readable();
    if (first) {
        beginResetModel();
        m_rows = page;
        endResetModel();
    } else if (!page.isEmpty()) {
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
        m_rows.append(page);
        endInsertRows();
    }
}

qint64 ContactListModel::codeAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).cd : 0;
}

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ContactListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_rows.size())
        return {};
    const Register::ListRow &row = m_rows.at(index.row());
    switch (index.column()) {
    case Code: return QString::number(row.cd);
    case Name: return row.a1;
    case Phone: return row.a4;
    case Address: return row.a9;
    case City: return row.a12;
    case State: return row.a13;
    default: return {};
    }
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return QString(); // the record selector shows no numbers
    static const QString captions[ColumnCount] = {
        QStringLiteral("Código"),
        QStringLiteral("Nome"),
        QStringLiteral("Telefone"),
        QStringLiteral("Endereço"),
        QStringLiteral("Cidade"),
        QStringLiteral("U.F."),
    };
    return section >= 0 && section < ColumnCount ? captions[section] : QVariant();
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex &index) const
{
    // Contacts change only through the save button, never in the grid.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool ContactListModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd && !m_searching && m_reader;
}

void ContactListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent) || m_rows.isEmpty())
        return;
    QList<Register::ListRow> page;
    QString error;
    bool tooLong = false;
    RegisterProblem problem = RegisterProblem::None;
    const Register::ListRow last = m_rows.constLast();
    if (!readPage(&last, &page, &tooLong, &problem, &error)) {
        if (tooLong) {
            readPageInBackground(last);
            if (problem == RegisterProblem::Busy)
                waitFor(error);
            return;
        }
        m_atEnd = true;
        m_troubled = true;
        emit failed(error);
        return;
    }
    readable();
    m_atEnd = page.size() < PageSize;
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows.append(page);
    endInsertRows();
}
