#include "core/contacts/PostgresStatement.h"

#include <QMutex>

#include <map>

namespace {

// The statements of one connection, used only on the connection's thread.
struct Kept
{
    struct Entry
    {
        std::unique_ptr<QSqlQuery> query;
        bool inUse = false;
    };
    std::map<QString, Entry> bySql; // nodes stay put while others come and go
};

// Statements kept on one connection at most: the register has a few dozen
// shapes of statement, a caller that made more is not let grow this.
constexpr qsizetype MostKept = 64;

QMutex g_mutex;
std::map<QString, std::unique_ptr<Kept>> g_kept; // by connection name

Kept &keptFor(const QString &connection)
{
    QMutexLocker lock(&g_mutex);
    std::unique_ptr<Kept> &kept = g_kept[connection];
    if (!kept)
        kept = std::make_unique<Kept>();
    return *kept;
}

} // namespace

PostgresStatement::PostgresStatement(const QSqlDatabase &db, const QString &sql)
{
    Kept &kept = keptFor(db.connectionName());
    auto found = kept.bySql.find(sql);
    if (found != kept.bySql.end() && !found->second.inUse) {
        m_query = found->second.query.get();
        m_inUse = &found->second.inUse;
        *m_inUse = true;
        m_prepared = true;
        return;
    }
    m_own = std::make_unique<QSqlQuery>(db);
    m_own->setForwardOnly(true);
    m_query = m_own.get();
    // A failed preparation is not run: Qt's driver would send the statement
    // to run without its name.
    m_prepared = m_own->prepare(sql);
    if (!m_prepared || found != kept.bySql.end())
        return;
    if (qsizetype(kept.bySql.size()) >= MostKept)
        std::erase_if(kept.bySql, [](const auto &e) { return !e.second.inUse; });
    Kept::Entry &entry = kept.bySql[sql];
    entry.query = std::move(m_own);
    entry.inUse = true;
    m_inUse = &entry.inUse;
}

PostgresStatement::~PostgresStatement()
{
    if (m_inUse) {
        // Rows not read are let go, so that the connection is free for the
        // next statement; the statement itself stays prepared.
        m_query->finish();
        *m_inUse = false;
    }
}

bool PostgresStatement::exec()
{
    return m_prepared && m_query->exec();
}

void PostgresStatement::forget(const QString &name)
{
    std::unique_ptr<Kept> kept;
    {
        QMutexLocker lock(&g_mutex);
        auto found = g_kept.find(name);
        if (found == g_kept.end())
            return;
        kept = std::move(found->second);
        g_kept.erase(found);
    }
}
