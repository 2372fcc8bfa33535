#include "core/contacts/ContactVCard.h"

#include "core/contacts/TextDecoding.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

// Properties of Zuna's own for what vCard has no place for.
const QString DistrictProperty = QStringLiteral("X-ZUNA-BAIRRO");
constexpr int FoldBytes = 75;

QString escaped(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'\\' || c == u',' || c == u';')
            out += QLatin1Char('\\') + c;
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            continue;
        else
            out += c;
    }
    return out;
}

// A content line folded so that no line is longer than 75 bytes, never
// inside a character's UTF-8 sequence.
QString folded(const QString &line)
{
    QString out;
    int bytes = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < line.size();
        const int size = pair ? 4 : c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 ? 2 : 3;
        if (bytes + size > FoldBytes) {
            out += QStringLiteral("\r\n ");
            bytes = 1;
        }
        out += c;
        if (pair)
            out += line.at(++i);
        bytes += size;
    }
    return out + QStringLiteral("\r\n");
}

// Splits at the separator where it is not escaped, keeping the escapes.
QStringList splitUnescaped(const QString &value, QChar separator)
{
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\' && i + 1 < value.size()) {
            current += c;
            current += value.at(++i);
        } else if (c == separator) {
            parts << current;
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current;
    return parts;
}

QString unescaped(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        out += next == u'n' || next == u'N' ? QChar(u'\n') : next;
    }
    return out;
}

QByteArray quotedPrintable(const QByteArray &value)
{
    QByteArray out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == '=' && i + 2 < value.size()) {
            bool ok = false;
            const int byte = value.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(byte);
                i += 2;
                continue;
            }
        }
        out += value.at(i);
    }
    return out;
}

struct Property
{
    QString name;
    QString value; // decoded, still escaped
    QStringList types;
};

// One content line: [group.]NAME[;PARAM=VALUE...]:VALUE. False when the
// line has no colon.
bool parseLine(const QByteArray &line, Property *p)
{
    qsizetype colon = -1;
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == '"')
            inQuotes = !inQuotes;
        else if (line.at(i) == ':' && !inQuotes) {
            colon = i;
            break;
        }
    }
    if (colon < 0)
        return false;
    const QList<QByteArray> head = line.left(colon).split(';');
    QByteArray name = head.first().trimmed().toUpper();
    if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0)
        name = name.mid(dot + 1);
    p->name = QString::fromLatin1(name);
    QByteArray value = line.mid(colon + 1);
    QByteArray charset = "UTF-8";
    bool qp = false;
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray param = head.at(i).trimmed();
        const qsizetype eq = param.indexOf('=');
        const QByteArray key = (eq < 0 ? param : param.left(eq)).toUpper();
        QByteArray val = eq < 0 ? QByteArray() : param.mid(eq + 1);
        if (val.startsWith('"') && val.endsWith('"') && val.size() >= 2)
            val = val.mid(1, val.size() - 2);
        if (eq < 0 && key == "QUOTED-PRINTABLE")
            qp = true; // vCard 2.1 writes the value alone
        else if (key == "ENCODING" && val.toUpper() == "QUOTED-PRINTABLE")
            qp = true;
        else if (key == "CHARSET")
            charset = val;
        else if (key == "TYPE" || eq < 0)
            p->types << QString::fromLatin1(eq < 0 ? key : val.toUpper()).split(QLatin1Char(','));
    }
    if (qp)
        value = quotedPrintable(value);
    if (charset.toUpper() == "UTF-8" || charset.toUpper() == "UTF8") {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        p->value = utf8(value);
        if (utf8.hasError())
            p->value = TextDecoding::fromWindows1252(value);
    } else {
        p->value = TextDecoding::fromWindows1252(value);
    }
    return true;
}

void appendLine(QString *text, const QString &more)
{
    if (more.isEmpty())
        return;
    if (!text->isEmpty())
        *text += QLatin1Char('\n');
    *text += more;
}

} // namespace

QString ContactVCard::card(const ContactRecord &r)
{
    QString out = QStringLiteral("BEGIN:VCARD\r\nVERSION:4.0\r\n");
    out += folded(QStringLiteral("FN:") + escaped(r.a1));
    if (!r.a4.isEmpty())
        out += folded(QStringLiteral("TEL;VALUE=text:") + escaped(r.a4));
    if (!(r.a9 + r.a10 + r.a12 + r.a13 + r.a14).isEmpty())
        out += folded(QStringLiteral("ADR:;%1;%2;%3;%4;%5;")
                          .arg(escaped(r.a10), escaped(r.a9), escaped(r.a12), escaped(r.a13), escaped(r.a14)));
    if (!r.a11.isEmpty())
        out += folded(DistrictProperty + QLatin1Char(':') + escaped(r.a11));
    if (!r.ob.isEmpty())
        out += folded(QStringLiteral("NOTE:") + escaped(r.ob));
    return out + QStringLiteral("END:VCARD\r\n");
}

bool ContactVCard::looksLikeVCard(const QByteArray &bytes)
{
    QByteArray start = bytes.left(64).trimmed();
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3);
    return start.toUpper().startsWith("BEGIN:VCARD");
}

QList<ImportRow> ContactVCard::read(const QByteArray &bytes)
{
    // Physical lines, each with its number; folded ones joined to the line
    // they continue, and a quoted-printable value's soft breaks too.
    struct Line
    {
        int number;
        QByteArray text;
    };
    QList<Line> lines;
    QByteArray data = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    data.replace("\r\n", "\n");
    data.replace('\r', '\n');
    int number = 0;
    for (const QByteArray &raw : data.split('\n')) {
        ++number;
        const bool continues = !raw.isEmpty() && (raw.at(0) == ' ' || raw.at(0) == '\t');
        const bool softBreak = !lines.isEmpty() && lines.last().text.endsWith('=')
            && lines.last().text.toUpper().contains("QUOTED-PRINTABLE");
        // A quoted-printable soft break keeps the next line whole, its
        // leading blank too; a folded line loses the blank.
        if (softBreak)
            lines.last().text = lines.last().text.chopped(1) + raw;
        else if (!lines.isEmpty() && continues)
            lines.last().text += raw.mid(1);
        else if (!raw.trimmed().isEmpty())
            lines.append({ number, raw });
    }

    QList<ImportRow> rows;
    ImportRow current;
    bool inCard = false;
    QStringList phones;
    QString family, given, notes;
    for (const Line &line : std::as_const(lines)) {
        Property p;
        const bool property = parseLine(line.text, &p);
        if (!inCard) {
            if (property && p.name == u"BEGIN" && p.value.trimmed().compare(u"VCARD", Qt::CaseInsensitive) == 0) {
                inCard = true;
                current = ImportRow();
                current.line = line.number;
                phones.clear();
                family.clear(), given.clear(), notes.clear();
            } else {
                ImportRow stray;
                stray.line = line.number;
                stray.damage = QStringLiteral("linha fora de um cartão (BEGIN:VCARD ... END:VCARD)");
                rows << stray;
            }
            continue;
        }
        if (!property) {
            if (current.damage.isEmpty())
                current.damage
                    = QStringLiteral("a linha %1 do cartão não é uma propriedade (NOME:valor)").arg(line.number);
            continue;
        }
        ContactRecord &c = current.record;
        if (p.name == u"BEGIN") {
            // A new card before this one ended: this one was cut short.
            current.damage = QStringLiteral("o cartão não termina (falta END:VCARD)");
            rows << current;
            current = ImportRow();
            current.line = line.number;
            phones.clear();
            family.clear(), given.clear(), notes.clear();
        } else if (p.name == u"END") {
            if (c.a1.isEmpty())
                c.a1 = QStringList({ given, family }).join(QLatin1Char(' ')).trimmed();
            if (!phones.isEmpty())
                c.a4 = phones.takeFirst();
            c.ob = notes;
            if (!phones.isEmpty())
                appendLine(&c.ob, QStringLiteral("Outros telefones: %1").arg(phones.join(QStringLiteral(", "))));
            if (current.damage.isEmpty() && c.a1.trimmed().isEmpty() && c.a4.trimmed().isEmpty())
                current.damage = QStringLiteral("o cartão não tem nome nem telefone");
            rows << current;
            inCard = false;
        } else if (p.name == u"FN") {
            c.a1 = unescaped(p.value);
        } else if (p.name == u"N") {
            const QStringList parts = splitUnescaped(p.value, QLatin1Char(';'));
            family = unescaped(parts.value(0)).trimmed();
            given = unescaped(parts.value(1)).trimmed();
        } else if (p.name == u"TEL") {
            QString value = unescaped(p.value).trimmed();
            if (value.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
                value = value.mid(4);
            if (!value.isEmpty())
                phones << value;
        } else if (p.name == u"ADR" && c.a9.isEmpty() && c.a12.isEmpty()) {
            const QStringList parts = splitUnescaped(p.value, QLatin1Char(';'));
            c.a10 = unescaped(parts.value(1));
            c.a9 = unescaped(parts.value(2));
            c.a12 = unescaped(parts.value(3));
            c.a13 = unescaped(parts.value(4));
            c.a14 = unescaped(parts.value(5));
            if (c.a10.isEmpty() && !parts.value(0).isEmpty())
                c.a10 = unescaped(parts.value(0));
        } else if (p.name == DistrictProperty) {
            c.a11 = unescaped(p.value);
        } else if (p.name == u"NOTE") {
            appendLine(&notes, unescaped(p.value));
        }
    }
    if (inCard) {
        current.damage = QStringLiteral("o cartão não termina (falta END:VCARD)");
        rows << current;
    }
    return rows;
}
