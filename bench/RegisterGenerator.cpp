#include "RegisterGenerator.h"

#include "core/app/DataInit.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QStringList FirstNames = { "João", "José", "Antônio", "Francisco", "Carlos", "Paulo", "Pedro", "Lucas", "Luíz",
    "Marcos", "Gabriel", "Rafael", "Daniel", "Marcelo", "Bruno", "Eduardo", "Felipe", "Raimundo", "Rodrigo", "Sérgio",
    "Maria", "Ana", "Francisca", "Antônia", "Adriana", "Juliana", "Márcia", "Fernanda", "Patrícia", "Aline", "Sandra",
    "Camila", "Amanda", "Bruna", "Jéssica", "Letícia", "Júlia", "Luciana", "Vanessa", "Mariana", "Ângela", "Érica",
    "Íris", "Otávio", "Conceição", "Sebastião", "Inês", "Cláudia", "Vânia", "Zé", "ana", "JOÃO", "Maria José",
    "D'Ávila", "Élcio", "Úrsula", "Ítalo", "Óscar", "Álvaro", "Núbia" };
const QStringList Surnames = { "Silva", "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves", "Pereira",
    "Lima", "Gomes", "Costa", "Ribeiro", "Martins", "Carvalho", "Almeida", "Lopes", "Soares", "Fernandes", "Vieira",
    "Barbosa", "Rocha", "Dias", "Nascimento", "Andrade", "Moreira", "Nunes", "Marques", "Machado", "Mendes", "Freitas",
    "Conceição", "Araújo", "Gonçalves", "Simões", "Magalhães", "Brandão", "Falcão", "Guimarães", "Estêvão", "Ávila" };
const QStringList Streets = { "Rua das Flores", "Avenida Brasil", "Rua São João", "Rua Sete de Setembro",
    "Avenida Paulista", "Rua da Conceição", "Travessa Amélia", "Rua Marechal Deodoro", "Avenida Getúlio Vargas",
    "Rua Tiradentes", "Alameda Santos", "Praça da Sé" };
const QStringList Districts = { "Centro", "Jardim América", "Vila Mariana", "Copacabana", "Boa Viagem", "Savassi",
    "Moinhos de Vento", "Batel", "Pituba", "Aldeota", "Tijuca", "Lapa" };
struct City
{
    const char *name;
    const char *state;
    const char *areaCode;
};
const City Cities[] = { { "São Paulo", "SP", "11" }, { "Rio de Janeiro", "RJ", "21" }, { "Belo Horizonte", "MG", "31" },
    { "Porto Alegre", "RS", "51" }, { "Curitiba", "PR", "41" }, { "Salvador", "BA", "71" }, { "Recife", "PE", "81" },
    { "Fortaleza", "CE", "85" }, { "Brasília", "DF", "61" }, { "Goiânia", "GO", "62" }, { "Belém", "PA", "91" },
    { "Florianópolis", "SC", "48" } };

// A telephone written the many ways registers hold them: mobiles (most
// lines in Brazil) and landlines, laid out or typed with blanks, with +55,
// without the desk's area code, and mobiles from before the ninth digit.
QString telephone(QRandomGenerator &rng, const QString &areaCode)
{
    const bool mobile = rng.bounded(10) < 7;
    const QString head
        = mobile ? QStringLiteral("9%1").arg(rng.bounded(6000, 10000)) : QString::number(rng.bounded(2000, 6000));
    const QString tail = QStringLiteral("%1").arg(rng.bounded(10000), 4, 10, QLatin1Char('0'));
    switch (rng.bounded(20)) {
    case 0:
    case 1:
    case 2: return QStringLiteral("(%1) %2-%3").arg(areaCode, head, tail);
    case 3:
    case 4: return QStringLiteral("%1 %2-%3").arg(areaCode, head, tail);
    case 5: return areaCode + head + tail;
    case 6: return QStringLiteral("+55 %1 %2-%3").arg(areaCode, head, tail);
    case 7: // before the ninth digit, or without the area code at a desk in 11
        if (mobile)
            return QStringLiteral("(%1)%2-%3").arg(areaCode, head.mid(1), tail);
        return areaCode == QLatin1String("11") ? QStringLiteral("%1-%2").arg(head, tail)
                                               : QStringLiteral("(%1)%2-%3").arg(areaCode, head, tail);
    default: return QStringLiteral("(%1)%2-%3").arg(areaCode, head, tail);
    }
}

template <class T> const T &pick(QRandomGenerator &rng, const QList<T> &list)
{
    return list.at(rng.bounded(int(list.size())));
}

} // namespace

namespace RegisterGenerator {

bool generate(const QString &dataDir, qint64 count, quint32 seed, QString *error)
{
    QStringList report;
    if (!DataInit::initDataFolder(dataDir, QString(), &report, error, QStringLiteral("11")))
        return false;
    const QString path = QDir(dataDir).filePath(QStringLiteral("cada.sqlite"));
    QRandomGenerator rng(seed);
    SqlConnection conn(path);
    if (!conn.isOpen()) {
        *error = conn.errorText();
        return false;
    }
    QSqlDatabase db = conn.database();
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA journal_mode=OFF")); // a bulk fill of a new file only
    query.exec(QStringLiteral("BEGIN"));
    query.prepare(QStringLiteral(
        "INSERT INTO CADA (A1, A4, A9, A10, A11, A12, A13, A14, OB) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (qint64 i = 0; i < count; ++i) {
        const City &city = Cities[rng.bounded(int(std::size(Cities)))];
        QString name = pick(rng, FirstNames) + QLatin1Char(' ') + pick(rng, Surnames);
        if (rng.bounded(3) == 0)
            name += QLatin1Char(' ') + pick(rng, Surnames);
        const QString phone = telephone(rng, QLatin1String(city.areaCode));
        query.addBindValue(name);
        query.addBindValue(phone);
        query.addBindValue(QStringLiteral("%1, %2").arg(pick(rng, Streets)).arg(rng.bounded(1, 3000)));
        query.addBindValue(rng.bounded(4) == 0 ? QStringLiteral("ap %1").arg(rng.bounded(1, 200)) : QString(""));
        query.addBindValue(pick(rng, Districts));
        query.addBindValue(QString::fromUtf8(city.name));
        query.addBindValue(QString::fromLatin1(city.state));
        query.addBindValue(
            QStringLiteral("%1-%2").arg(rng.bounded(10000, 99999)).arg(rng.bounded(1000), 3, 10, QLatin1Char('0')));
        query.addBindValue(
            rng.bounded(10) == 0 ? QStringLiteral("Cliente desde %1").arg(rng.bounded(1990, 2026)) : QString(""));
        if (!query.exec()) {
            *error = query.lastError().text();
            return false;
        }
    }
    if (!query.exec(QStringLiteral("COMMIT")) || !query.exec(QStringLiteral("PRAGMA journal_mode=DELETE"))) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

} // namespace RegisterGenerator
