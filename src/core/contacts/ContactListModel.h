#pragma once

#include "core/contacts/ReaderWorker.h"
#include "core/contacts/Register.h"

#include <QAbstractTableModel>
#include <QList>

#include <memory>
#include <optional>

// The contact list behind the grid: read-only, in name order, fetched page by
// page as the grid scrolls. It keeps one reader for the whole run. A page
// is read on the window's thread while that takes only a moment; a search
// that needs longer (a pattern that starts with a wildcard, on a large
// register) goes on in the background, and its page shows when it is found.
class ContactListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Code, Name, Phone, Address, City, State, ColumnCount };
    static constexpr int PageSize = 64;

    explicit ContactListModel(QObject *parent = nullptr);
    ~ContactListModel() override;

    // The register listed from now on; the list stays empty until one is set.
    void setRegister(const Register *reg);

    // Lists every contact again from the first page.
    bool refresh(QString *error);
    // Lists the contacts whose names begin with what was typed.
    bool search(const QString &typedName, QString *error);
    // Reads the list shown again, the same search and as many rows as are
    // shown, after another desk changed the register: rows that went away
    // are taken out and new ones put in where they sort, so that the grid
    // keeps its current row and its scroll position.
    bool reread(QString *error);

    qint64 codeAt(int row) const;
    // A page is being read in the background.
    bool isSearching() const { return m_searching; }

    // How long a page (of contacts, or of calls) may keep the window waiting
    // before its reading moves to the background: half a frame at 60 Hz,
    // leaving the rest to the window's own work. Tests set 0 to take the
    // background path every time.
    static constexpr int DefaultWindowBudgetMs = 8;
    static void setWindowBudgetMs(int ms);
    static int windowBudgetMs();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool canFetchMore(const QModelIndex &parent = {}) const override;
    void fetchMore(const QModelIndex &parent = {}) override;

signals:
    // A page could not be read; the list stops where it is.
    void failed(const QString &error);
    // The register is busy with another program: the page is being waited
    // for in the background.
    void waiting(const QString &why);
    // A page was read after waiting or failing.
    void recovered();

private:
    bool openConnection(QString *error);
    bool reload(QString *error);
    // Reads a page on the window's thread within the budget; `tooLong` tells
    // that the budget ran out first (or the register was busy), `problem`
    // what a failed read met.
    bool readPage(const Register::ListRow *after, QList<Register::ListRow> *page, bool *tooLong,
        RegisterProblem *problem, QString *error);
    void readPageInBackground(std::optional<Register::ListRow> after);
    void pageArrived(bool first, bool ok, const QList<Register::ListRow> &page, const QString &error);
    // Turns the rows shown into `fresh` row by row, without a reset.
    void follow(const QList<Register::ListRow> &fresh, bool atEnd);
    void waitFor(const QString &why);
    void readable();

    const Register *m_register = nullptr;
    std::unique_ptr<Register::Reader> m_reader; // the window's own connection
    std::unique_ptr<ReaderWorker> m_worker;
    NamePattern m_pattern;
    QList<Register::ListRow> m_rows;
    bool m_atEnd = true;
    bool m_searching = false;
    bool m_troubled = false; // the last page had to wait, or failed
    quint64 m_generation = 0; // of the list shown: a newer search supersedes an older one
};
