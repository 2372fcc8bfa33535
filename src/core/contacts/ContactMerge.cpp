#include "core/contacts/ContactMerge.h"

#include <QStringList>

namespace {

bool sameText(const QString &a, const QString &b)
{
    return a.simplified().compare(b.simplified(), Qt::CaseInsensitive) == 0;
}

// Adds `line` to the notes unless a line of them already says it.
void addNote(QString *notes, const QString &line)
{
    if (line.trimmed().isEmpty())
        return;
    const QStringList held = notes->split(QLatin1Char('\n'));
    for (const QString &h : held) {
        if (sameText(h, line))
            return;
    }
    if (notes->trimmed().isEmpty())
        notes->clear();
    else
        *notes += QLatin1Char('\n');
    *notes += line.trimmed();
}

} // namespace

ContactRecord ContactMerge::merged(const ContactRecord &stored, const ContactRecord &imported)
{
    ContactRecord out = stored;
    QStringList notes;
    const struct
    {
        QString ContactRecord::*field;
        const char *name;
    } fields[] = {
        { &ContactRecord::a1, "nome" },
        { &ContactRecord::a9, "endereço" },
        { &ContactRecord::a10, "complemento" },
        { &ContactRecord::a11, "bairro" },
        { &ContactRecord::a12, "cidade" },
        { &ContactRecord::a13, "UF" },
        { &ContactRecord::a14, "CEP" },
    };
    for (const auto &[field, name] : fields) {
        const QString &theirs = imported.*field;
        if (theirs.trimmed().isEmpty() || sameText(stored.*field, theirs))
            continue;
        if ((stored.*field).trimmed().isEmpty())
            out.*field = theirs;
        else
            notes << QStringLiteral("Importado, %1: %2").arg(QString::fromUtf8(name), theirs.simplified());
    }
    // The telephone matched by key: the stored way of writing it stays.
    if (stored.ob.trimmed().isEmpty()) {
        if (!imported.ob.trimmed().isEmpty())
            out.ob = imported.ob;
    } else {
        for (const QString &line : imported.ob.split(QLatin1Char('\n')))
            addNote(&out.ob, line);
    }
    for (const QString &line : std::as_const(notes))
        addNote(&out.ob, line);
    return out;
}
