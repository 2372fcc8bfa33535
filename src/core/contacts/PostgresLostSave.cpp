#include "core/contacts/PostgresLostSave.h"

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresDeadline.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool PostgresLostSave::failCommit(QString *error, const QSqlError &e, QSqlDatabase db, PostgresDeadline &limit,
    const PostgresRegister::LostSave &save)
{
    using Problem = PostgresConnection::Problem;
    const Problem problem = PostgresConnection::problemOf(e, db.driver(), limit.passed());
    m_register.fail(error, QStringLiteral("Erro ao gravar o contato."), e, db.driver(), limit);
    if (problem == Problem::Lost || problem == Problem::NoAnswer) {
        // The server may have stored it before the answer was lost.
        m_register.m_lostSave = save;
        if (error)
            error->replace(0, PostgresConnection::Unreachable.size(),
                PostgresConnection::Unreachable
                    + QStringLiteral(" Não se sabe se o contato foi gravado: grave de novo quando a conexão "
                                     "voltar, sem risco de gravá-lo duas vezes."));
    }
    return false;
}

bool PostgresLostSave::settle(QSqlDatabase db, PostgresDeadline &limit, QString *error)
{
    if (!m_register.m_lostSave || m_register.m_lostSave->stored)
        return true;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT txid_status(?)"));
    query.addBindValue(m_register.m_lostSave->txid);
    if (!query.exec() || !query.next())
        return m_register.fail(error, QStringLiteral("Erro ao gravar o contato."), query, limit);
    const QString status = query.value(0).toString();
    if (status == QLatin1String("in progress"))
        return PostgresConnection::failure(error,
            QStringLiteral("O servidor ainda não disse se a gravação anterior deste contato foi concluída; "
                           "tente de novo em instantes."),
            m_register.m_server, {});
    if (status == QLatin1String("committed"))
        m_register.m_lostSave->stored = true;
    else
        m_register.m_lostSave.reset(); // rolled back: nothing of it was stored
    return true;
}
