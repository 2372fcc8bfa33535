#include "contacts/AccessReader.h"

#include <QFile>
#include <QFileInfo>

// libmdb's header needs GLib's declarations first when read as C++.
#include <glib.h>
#include <mdbtools.h>

namespace {

bool isReadableType(int type)
{
    switch (type) {
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_LONGINT:
    case MDB_INT:
    case MDB_BYTE:
    case MDB_NUMERIC:
    case MDB_FLOAT:
    case MDB_DOUBLE: return true;
    default: return false;
    }
}

struct MdbCloser
{
    void operator()(MdbHandle *mdb) const { mdb_close(mdb); }
};
struct TableCloser
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

} // namespace

struct AccessReader::Handles
{
    // The table goes before the file it was read from.
    std::unique_ptr<MdbHandle, MdbCloser> mdb;
    std::unique_ptr<MdbTableDef, TableCloser> table;
    std::vector<MdbField> fields;
};

AccessReader::AccessReader()
    : m_handles(std::make_unique<Handles>())
{
}

AccessReader::~AccessReader()
{
    m_handles->table.reset();
    m_handles->mdb.reset();
}

bool AccessReader::open(const QString &source, QString *error)
{
    // Settings in the environment change how libmdb reads text and where it
    // looks for files; an empty MDBPATH entry makes it loop forever.
    for (const char *var : { "MDBICONV", "MDB_JET3_CHARSET", "MDBPATH" })
        qunsetenv(var);
    const QFileInfo info(source);
    if (!info.isFile() || info.size() == 0) {
        *error = QStringLiteral("O arquivo do Access está vazio ou não existe.");
        return false;
    }
    m_handles->mdb.reset(mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
    MdbHandle *mdb = m_handles->mdb.get();
    if (!mdb) {
        *error = QStringLiteral("O arquivo não pôde ser aberto como banco de dados do Access.");
        return false;
    }
    mdb_set_bind_size(mdb, BindSize);
    // A file that is not an Access database may still "open"; only its
    // catalogue tells.
    if (!mdb_read_catalog(mdb, MDB_TABLE) || !mdb->catalog || mdb->num_catalog == 0) {
        *error = QStringLiteral("O arquivo não é um banco de dados do Access (catálogo ilegível).");
        return false;
    }
    return true;
}

bool AccessReader::openTable(const QString &name, QString *error)
{
    // Each table is opened from its own catalogue entry: opening a table by
    // name frees the entries read before.
    MdbHandle *mdb = m_handles->mdb.get();
    for (unsigned i = 0; i < mdb->catalog->len; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE
            || name.compare(QString::fromUtf8(entry->object_name), Qt::CaseInsensitive) != 0)
            continue;
        m_handles->table.reset(mdb_read_table(entry));
        if (!m_handles->table || !mdb_read_columns(m_handles->table.get())) {
            *error = QStringLiteral("A tabela %1 do arquivo do Access não pôde ser lida.").arg(name);
            return false;
        }
        m_handles->fields.resize(m_handles->table->num_cols);
        return true;
    }
    *error = QStringLiteral("O arquivo do Access não contém a tabela %1.").arg(name);
    return false;
}

AccessReader::Columns AccessReader::bind(const QStringList &wanted)
{
    Columns bound;
    MdbTableDef *table = m_handles->table.get();
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        // The type is checked before the name is read: columns of kinds we do
        // not read are left alone.
        if (!isReadableType(col->col_type))
            continue;
        const QString name = QString::fromUtf8(col->name);
        for (const QString &w : wanted) {
            if (w.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            auto b = std::make_shared<Bound>();
            b->name = w;
            b->index = int(i);
            mdb_bind_column(table, int(i) + 1, b->buffer.data(), &b->length);
            bound.append(b);
        }
    }
    return bound;
}

unsigned AccessReader::declaredRows() const
{
    return m_handles->table->num_rows;
}

void AccessReader::rewind()
{
    mdb_rewind_table(m_handles->table.get());
}

bool AccessReader::next(const Columns &bound)
{
    MdbTableDef *table = m_handles->table.get();
    if (!mdb_fetch_row(table))
        return false;
    // The bound text is empty for NULL and for empty text alike; the row's
    // own null flags tell them apart.
    int start = 0;
    size_t size = 0;
    const bool cracked = mdb_find_row(m_handles->mdb.get(), int(table->cur_row) - 1, &start, &size) == 0 && size > 0
        && mdb_crack_row(table, start & 0x1fff, size, m_handles->fields.data()) >= 0;
    for (const auto &b : bound) {
        b->isNull = false;
        if (!cracked)
            continue;
        for (const MdbField &f : m_handles->fields) {
            if (f.colnum == b->index)
                b->isNull = f.is_null;
        }
    }
    return true;
}
