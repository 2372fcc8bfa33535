#include "core/contacts/AccessReader.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

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

// A memo's row field is a header: its length in bytes, then where its text
// lies (in the row, or on pages of its own).
constexpr int MemoHeaderSize = 12;

// Whether a memo was read shorter than the length its header gives: its pages
// were missing or damaged, and libmdb gave what it found without a word. Jet 4
// keeps text as UCS-2, at most two bytes a character, behind a 2-byte marker
// when compressed: a text of n bytes has at least (n - 2) / 2 characters.
bool memoCameShort(const AccessReader::Bound &b, const MdbField &f)
{
    const long stored = mdb_get_int32(f.value, 0) & 0x3fffffff;
    const qsizetype read = QString::fromUtf8(b.buffer.data(), b.length).size();
    return read < (stored - 2) / 2;
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
    diagnostics(); // gives the standard error back
    if (m_captured)
        fclose(m_captured);
}

QString AccessReader::diagnostics()
{
    if (!m_captured)
        return {};
    fflush(stderr);
    if (m_savedStderr >= 0) {
        dup2(m_savedStderr, STDERR_FILENO);
        ::close(m_savedStderr);
        m_savedStderr = -1;
    }
    QByteArray said;
    ::rewind(m_captured);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, m_captured)) > 0)
        said.append(chunk, qsizetype(n));
    return QString::fromLocal8Bit(said).trimmed();
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
    // From here on what libmdb prints about the file is kept, not shown.
    m_captured = tmpfile();
    if (m_captured) {
        fflush(stderr);
        m_savedStderr = dup(STDERR_FILENO);
        dup2(fileno(m_captured), STDERR_FILENO);
    }
    m_handles->mdb.reset(mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
    MdbHandle *mdb = m_handles->mdb.get();
    if (!mdb) {
        *error = QStringLiteral("O arquivo não pôde ser aberto como banco de dados do Access.");
        return false;
    }
    mdb_set_bind_size(mdb, BindSize);
    // A file cut short, or grown by junk, is not whole pages.
    if (info.size() % mdb->fmt->pg_size != 0) {
        *error = QStringLiteral("O arquivo do Access está incompleto: seu tamanho (%1 bytes) não é um número inteiro "
                                "de páginas de %2 bytes.")
                     .arg(info.size())
                     .arg(mdb->fmt->pg_size);
        return false;
    }
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
            b->memo = col->col_type == MDB_MEMO;
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
    if (!cracked)
        m_broken = true;
    for (const auto &b : bound) {
        b->isNull = false;
        if (!cracked)
            continue;
        for (const MdbField &f : m_handles->fields) {
            if (f.colnum != b->index)
                continue;
            b->isNull = f.is_null;
            if (b->memo && !f.is_null && f.siz >= MemoHeaderSize && memoCameShort(*b, f))
                m_broken = true;
        }
    }
    return true;
}
