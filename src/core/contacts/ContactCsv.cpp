#include "core/contacts/ContactCsv.h"

#include "core/contacts/CsvText.h"
#include "core/contacts/TextDecoding.h"

#include <QHash>

#include <algorithm>

namespace {

const QStringList HeaderNames = { QStringLiteral("codigo"), QStringLiteral("nome"), QStringLiteral("telefone"),
    QStringLiteral("endereco"), QStringLiteral("complemento"), QStringLiteral("bairro"), QStringLiteral("cidade"),
    QStringLiteral("uf"), QStringLiteral("cep"), QStringLiteral("observacoes") };

// A header cell as compared: lower case, no accents, letters and digits only.
QString plainName(const QString &cell)
{
    QString out;
    for (const QChar c : cell.normalized(QString::NormalizationForm_D)) {
        if (c.isLetterOrNumber() && c.category() != QChar::Mark_NonSpacing)
            out += c.toLower();
    }
    return out;
}

struct Record
{
    int line = 0;
    QStringList fields;
    QString damage;
};

// The records of the text, each with the line it starts on. A quoted field
// runs to its closing quote, line breaks and separators included.
QList<Record> recordsOf(const QString &text, QChar separator)
{
    QList<Record> records;
    Record current;
    QString field;
    bool quoted = false, fieldStarted = false;
    int line = 1;
    current.line = 1;
    auto endField = [&] {
        current.fields << field;
        field.clear();
        fieldStarted = false;
    };
    auto endRecord = [&](int nextLine) {
        endField();
        records << current;
        current = Record();
        current.line = nextLine;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text.at(i + 1) == u'"') {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text.at(i + 1) != u'\n')))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == u'"' && !fieldStarted && field.isEmpty()) {
            quoted = true;
            fieldStarted = true;
        } else if (c == separator) {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            ++line;
            endRecord(line);
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        current.damage = QStringLiteral("aspas abertas e não fechadas até o fim do arquivo");
        endRecord(line);
    } else if (fieldStarted || !field.isEmpty() || !current.fields.isEmpty()) {
        endRecord(line);
    }
    return records;
}

// The separator of the header line: the one of comma, semicolon and tab that
// it holds most often outside quotes.
QChar separatorOf(const QString &text)
{
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted && c == u',')
            ++comma;
        else if (!quoted && c == u';')
            ++semicolon;
        else if (!quoted && c == u'\t')
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return QLatin1Char(';');
    if (tab > comma)
        return QLatin1Char('\t');
    return QLatin1Char(',');
}

void append(QString *text, const QString &more, const QString &between)
{
    if (more.isEmpty())
        return;
    if (!text->isEmpty())
        *text += between;
    *text += more;
}

} // namespace

QString ContactCsv::header()
{
    return HeaderNames.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString ContactCsv::row(const ContactRecord &r)
{
    QStringList cells;
    cells << QString::number(r.cd);
    for (const QString &f : { r.a1, r.a4, r.a9, r.a10, r.a11, r.a12, r.a13, r.a14, r.ob })
        cells << CsvText::field(f);
    return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

ContactCsv::Column ContactCsv::columnFor(const QString &headerCell)
{
    static const QHash<QString, Column> names = [] {
        QHash<QString, Column> h;
        const std::pair<Column, const char *> table[] = {
            { Column::Code, "codigo cod cd id code" },
            { Column::Name,
                "nome nomecompleto contato cliente razaosocial a1 name fullname displayname contact customer" },
            { Column::GivenName, "primeironome prenome firstname givenname" },
            { Column::FamilyName, "sobrenome ultimonome lastname familyname surname" },
            { Column::Phone, "telefone fone tel celular whatsapp a4 phone telephone mobile cell" },
            { Column::Street,
                "endereco logradouro rua a9 address street homestreet businessstreet address1street "
                "enderecoresidencial" },
            { Column::Complement, "complemento compl apto a10 complement address2 extendedaddress" },
            { Column::District, "bairro a11 district neighborhood neighbourhood" },
            { Column::City, "cidade municipio a12 city town homecity businesscity address1city" },
            { Column::State, "uf estado a13 state region province homestate businessstate address1region" },
            { Column::Postcode,
                "cep codigopostal a14 postcode postalcode zip zipcode homepostalcode "
                "businesspostalcode address1postalcode" },
            { Column::Notes, "observacoes observacao obs notas nota ob notes note comments comentarios" },
        };
        for (const auto &[column, words] : table) {
            for (const QString &w : QString::fromLatin1(words).split(QLatin1Char(' ')))
                h.insert(w, column);
        }
        return h;
    }();
    const QString name = plainName(headerCell);
    if (const auto it = names.constFind(name); it != names.cend())
        return *it;
    // "Telefone 2", "Phone 1 - Value", "Celular (WhatsApp)", "Mobile Phone".
    for (const char *phone : { "telefone", "celular", "phone", "fone" }) {
        if (name.contains(QLatin1String(phone)) && !name.contains(QLatin1String("type"))
            && !name.contains(QLatin1String("tipo")) && !name.contains(QLatin1String("label")))
            return Column::Phone;
    }
    return Column::Unknown;
}

QList<std::pair<ContactCsv::Column, QString>> ContactCsv::choices()
{
    return { { Column::Name, QStringLiteral("nome") }, { Column::Phone, QStringLiteral("telefone") },
        { Column::Street, QStringLiteral("endereco") }, { Column::Complement, QStringLiteral("complemento") },
        { Column::District, QStringLiteral("bairro") }, { Column::City, QStringLiteral("cidade") },
        { Column::State, QStringLiteral("uf") }, { Column::Postcode, QStringLiteral("cep") },
        { Column::Notes, QStringLiteral("observacoes") }, { Column::GivenName, QStringLiteral("prenome") },
        { Column::FamilyName, QStringLiteral("sobrenome") }, { Column::Unknown, QStringLiteral("pular") } };
}

bool ContactCsv::choiceFor(const QString &answer, Column *column)
{
    const QList<std::pair<Column, QString>> all = choices();
    bool isNumber = false;
    const int n = answer.trimmed().toInt(&isNumber);
    if (isNumber) {
        if (n < 1 || n > all.size())
            return false;
        *column = all.at(n - 1).first;
        return true;
    }
    const QString name = plainName(answer);
    if (name == QLatin1String("pular") || name == QLatin1String("skip") || name == QLatin1String("ignorar")) {
        *column = Column::Unknown;
        return true;
    }
    const Column c = columnFor(answer);
    if (c == Column::Unknown || c == Column::Code)
        return false;
    *column = c;
    return true;
}

int ContactCsv::columnIndexFor(const QStringList &header, const QString &answer)
{
    bool isNumber = false;
    const int n = answer.trimmed().toInt(&isNumber);
    if (isNumber)
        return n >= 1 && n <= header.size() ? n - 1 : -1;
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (header.at(i).trimmed().compare(answer.trimmed(), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    const QString name = plainName(answer);
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (!name.isEmpty() && plainName(header.at(i)) == name)
            return int(i);
    }
    return -1;
}

bool ContactCsv::read(const QByteArray &bytes, Read *result, QString *error, const QHash<int, Column> &chosen)
{
    const QString text = TextDecoding::decode(bytes, &result->encoding);
    result->separator = separatorOf(text);
    // Excel may name the separator on a first line of its own: "sep=;".
    QList<Record> records;
    if (text.startsWith(QLatin1String("sep="), Qt::CaseInsensitive) && text.size() > 4) {
        result->separator = text.at(4);
        records = recordsOf(text, result->separator);
        records.removeFirst();
    } else {
        records = recordsOf(text, result->separator);
    }
    if (records.isEmpty()) {
        *error = QStringLiteral("O arquivo está vazio.");
        return false;
    }
    QList<Column> &columns = result->columns;
    result->header = records.first().fields;
    QHash<Column, int> claims;
    for (qsizetype i = 0; i < result->header.size(); ++i) {
        columns << chosen.value(int(i), columnFor(result->header.at(i)));
        ++claims[columns.last()];
    }
    // Telephones, names and notes add up; any other field holds one value,
    // so two columns claiming it leave both to be asked about.
    const auto single = [](Column c) {
        return c != Column::Unknown && c != Column::Code && c != Column::Phone && c != Column::Name
            && c != Column::Notes;
    };
    bool useful = false;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QString cell = result->header.at(i).trimmed();
        if (!chosen.contains(int(i))
            && ((columns.at(i) == Column::Unknown && !cell.isEmpty())
                || (single(columns.at(i)) && claims.value(columns.at(i)) > 1)))
            result->unclear << int(i);
        if (columns.at(i) == Column::Unknown && !cell.isEmpty())
            result->ignoredColumns << cell;
        useful = useful || columns.at(i) == Column::Name || columns.at(i) == Column::Phone
            || columns.at(i) == Column::GivenName;
    }
    if (!useful && result->unclear.isEmpty()) {
        *error = QStringLiteral("A primeira linha do arquivo não é um cabeçalho com as colunas dos contatos: ela "
                                "precisa nomear ao menos a coluna do nome ou do telefone (por exemplo nome, "
                                "telefone, endereco, bairro, cidade, uf, cep, observacoes).");
        return false;
    }
    if (records.size() > 1)
        result->example = records.at(1).fields;
    for (qsizetype r = 1; r < records.size(); ++r) {
        const Record &rec = records.at(r);
        if (rec.damage.isEmpty() && std::all_of(rec.fields.cbegin(), rec.fields.cend(), [](const QString &f) {
                return f.trimmed().isEmpty();
            }))
            continue; // a blank line
        ImportRow row;
        row.line = rec.line;
        row.damage = rec.damage;
        if (row.damage.isEmpty() && rec.fields.size() > columns.size()
            && std::any_of(rec.fields.cbegin() + columns.size(), rec.fields.cend(),
                [](const QString &f) { return !f.trimmed().isEmpty(); }))
            row.damage
                = QStringLiteral("a linha tem %1 campos e o cabeçalho, %2").arg(rec.fields.size()).arg(columns.size());
        QString given, family;
        QStringList phones;
        ContactRecord &c = row.record;
        for (qsizetype i = 0; i < rec.fields.size() && i < columns.size(); ++i) {
            const QString value = CsvText::restored(rec.fields.at(i));
            switch (columns.at(i)) {
            case Column::Unknown:
            case Column::Code: break;
            case Column::Name: append(&c.a1, value, QStringLiteral(" ")); break;
            case Column::GivenName: given = value; break;
            case Column::FamilyName: family = value; break;
            case Column::Phone:
                if (!value.trimmed().isEmpty())
                    phones << value;
                break;
            case Column::Street: c.a9 = value; break;
            case Column::Complement: c.a10 = value; break;
            case Column::District: c.a11 = value; break;
            case Column::City: c.a12 = value; break;
            case Column::State: c.a13 = value; break;
            case Column::Postcode: c.a14 = value; break;
            case Column::Notes: append(&c.ob, value, QStringLiteral("\n")); break;
            }
        }
        if (c.a1.isEmpty())
            c.a1 = QStringList({ given, family }).join(QLatin1Char(' ')).trimmed();
        if (!phones.isEmpty())
            c.a4 = phones.takeFirst();
        if (!phones.isEmpty())
            append(&c.ob, QStringLiteral("Outros telefones: %1").arg(phones.join(QStringLiteral(", "))),
                QStringLiteral("\n"));
        if (row.damage.isEmpty() && c.a1.trimmed().isEmpty() && c.a4.trimmed().isEmpty())
            row.damage = QStringLiteral("a linha não tem nome nem telefone");
        result->rows << row;
    }
    return true;
}
