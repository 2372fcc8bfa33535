#include "core/contacts/ContactImport.h"

#include "core/contacts/ContactCsv.h"
#include "core/contacts/ContactMerge.h"
#include "core/contacts/ContactVCard.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// Large enough for any register's export; a bigger file is not contacts.
constexpr qint64 MaxFileBytes = 512LL << 20;

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.size() > 60 ? text.left(59) + QChar(0x2026) : text;
}

QString shownRow(const ImportRow &row)
{
    return QStringLiteral("linha %1: %2  %3").arg(row.line).arg(oneLine(row.record.a1), oneLine(row.record.a4));
}

// The fields a merge changes, named as the window names them.
QString changedFields(const ContactRecord &was, const ContactRecord &is)
{
    QStringList names;
    const std::pair<QString ContactRecord::*, const char *> fields[]
        = { { &ContactRecord::a1, "nome" }, { &ContactRecord::a9, "endereço" }, { &ContactRecord::a10, "complemento" },
              { &ContactRecord::a11, "bairro" }, { &ContactRecord::a12, "cidade" }, { &ContactRecord::a13, "UF" },
              { &ContactRecord::a14, "CEP" }, { &ContactRecord::ob, "observações" } };
    for (const auto &[field, name] : fields) {
        if (was.*field != is.*field)
            names << QString::fromUtf8(name);
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

bool ContactImport::read(const QString &path, Register &reg, const QString &areaCode, Preview *preview, QString *error,
    const std::function<void(qint64, qint64)> &progress, const QHash<int, ContactCsv::Column> &chosen)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível ler o arquivo %1.\nDetalhe: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileBytes) {
        *error = QStringLiteral("O arquivo %1 é grande demais para uma lista de contatos.").arg(path);
        return false;
    }
    const QByteArray bytes = file.readAll();
    QList<ImportRow> rows;
    if (ContactVCard::looksLikeVCard(bytes)) {
        preview->format = QStringLiteral("vCard");
        rows = ContactVCard::read(bytes);
    } else {
        ContactCsv::Read csv;
        if (!ContactCsv::read(bytes, &csv, error, chosen))
            return false;
        const QString separator = csv.separator == u'\t' ? QStringLiteral("tabulação") : QString(csv.separator);
        preview->format = QStringLiteral("CSV (%1, separador %2)").arg(csv.encoding, separator);
        preview->ignoredColumns = csv.ignoredColumns;
        preview->header = csv.header;
        preview->columns = csv.columns;
        preview->example = csv.example;
        preview->unclear = csv.unclear;
        rows = std::move(csv.rows);
    }

    // Telephones repeated within the file: the first row keeps it.
    QHash<QString, int> firstLineOf;
    QList<QStringList> keysOf(rows.size());
    QList<bool> left(rows.size(), false);
    QStringList asked;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (progress && i % 1000 == 0)
            progress(i, rows.size());
        ImportRow &row = rows[i];
        left[i] = true;
        if (!row.damage.isEmpty()) {
            preview->damaged << row;
            continue;
        }
        const PhoneNumber number = PhoneNumber::read(row.record.a4, areaCode);
        left[i] = false;
        if (!number.isNumber())
            continue;
        const QString key = number.key();
        if (const auto it = firstLineOf.constFind(key); it != firstLineOf.cend()) {
            row.damage = QStringLiteral("telefone repetido da linha %1").arg(*it);
            preview->duplicates << row;
            left[i] = true;
            continue;
        }
        firstLineOf.insert(key, row.line);
        keysOf[i] = number.lookupKeys();
        asked << keysOf[i];
    }
    QHash<QString, ContactRecord> known;
    if (!reg.contactsByPhoneKeys(asked, &known, error))
        return false;
    QHash<qint64, qsizetype> mergeOf; // stored code: its place in merges
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (left.at(i))
            continue;
        ImportRow &row = rows[i];
        const QStringList &keys = keysOf.at(i);
        const auto stored
            = std::find_if(keys.cbegin(), keys.cend(), [&](const QString &k) { return known.contains(k); });
        if (stored == keys.cend()) {
            preview->toAdd << row;
            continue;
        }
        row.damage = QStringLiteral("o telefone já está no cadastro");
        preview->duplicates << row;
        const ContactRecord &was = known[*stored];
        if (const auto it = mergeOf.constFind(was.cd); it != mergeOf.cend()) {
            Merge &m = preview->merges[*it];
            m.lines << row.line;
            m.merged = ContactMerge::merged(m.merged, row.record);
        } else {
            mergeOf.insert(was.cd, preview->merges.size());
            preview->merges << Merge { { row.line }, was, ContactMerge::merged(was, row.record) };
        }
    }
    preview->merges.removeIf([](const Merge &m) { return m.merged == m.stored; });
    std::stable_sort(preview->duplicates.begin(), preview->duplicates.end(),
        [](const ImportRow &a, const ImportRow &b) { return a.line < b.line; });
    return true;
}

QString ContactImport::describe(const Preview &p, int shown, bool merge)
{
    QSet<int> mergedLines;
    for (const Merge &m : p.merges) {
        for (const int line : m.lines)
            mergedLines.insert(line);
    }
    QList<ImportRow> skipped;
    for (const ImportRow &row : p.duplicates) {
        if (!merge || !mergedLines.contains(row.line))
            skipped << row;
    }
    QStringList out;
    out << QStringLiteral("Arquivo: %1").arg(p.format);
    out << QStringLiteral("%1 contatos a importar, %2%3 repetidos (pulados), %4 linhas danificadas (puladas).")
               .arg(p.toAdd.size())
               .arg(merge ? QStringLiteral("%1 já cadastrados a completar, ").arg(p.merges.size()) : QString())
               .arg(skipped.size())
               .arg(p.damaged.size());
    if (!merge && !p.merges.isEmpty())
        out << QStringLiteral("%1 dos contatos repetidos trazem dados que o cadastro não tem e podem ser juntados "
                              "aos já cadastrados.")
                   .arg(p.merges.size());
    if (!p.ignoredColumns.isEmpty())
        out << QStringLiteral("Colunas não reconhecidas, ignoradas: %1")
                   .arg(p.ignoredColumns.join(QStringLiteral(", ")));
    for (qsizetype i = 0; i < p.toAdd.size() && i < shown; ++i)
        out << QStringLiteral("  + %1").arg(shownRow(p.toAdd.at(i)));
    if (p.toAdd.size() > shown)
        out << QStringLiteral("  ... e mais %1").arg(p.toAdd.size() - shown);
    if (merge && !p.merges.isEmpty()) {
        out << QStringLiteral("A completar:");
        for (qsizetype i = 0; i < p.merges.size() && i < 4 * shown; ++i) {
            const Merge &m = p.merges.at(i);
            out << QStringLiteral("  * linha %1: %2  %3 (%4)")
                       .arg(m.lines.first())
                       .arg(oneLine(m.stored.a1), oneLine(m.stored.a4), changedFields(m.stored, m.merged));
        }
        if (p.merges.size() > 4 * shown)
            out << QStringLiteral("  ... e mais %1").arg(p.merges.size() - 4 * shown);
    }
    for (const auto &[title, list] :
        { std::pair { QStringLiteral("Repetidos:"), static_cast<const QList<ImportRow> *>(&skipped) },
            std::pair { QStringLiteral("Danificadas:"), &p.damaged } }) {
        if (list->isEmpty())
            continue;
        out << title;
        for (qsizetype i = 0; i < list->size() && i < 4 * shown; ++i)
            out << QStringLiteral("  - %1 (%2)").arg(shownRow(list->at(i)), list->at(i).damage);
        if (list->size() > 4 * shown)
            out << QStringLiteral("  ... e mais %1").arg(list->size() - 4 * shown);
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool ContactImport::write(
    Register &reg, const Preview &preview, bool merge, const std::function<void(qint64)> &progress, QString *error)
{
    QList<ContactRecord> records;
    records.reserve(preview.toAdd.size());
    for (const ImportRow &row : preview.toAdd)
        records << row.record;
    QList<Register::Rewrite> rewrites;
    if (merge) {
        for (const Merge &m : preview.merges)
            rewrites << Register::Rewrite { m.merged, m.stored };
    }
    return reg.insertAll(records, rewrites, progress, error);
}
