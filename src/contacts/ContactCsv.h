#pragma once

#include "contacts/ImportRow.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Contacts as CSV. Written: UTF-8, a header row, comma-separated, RFC 4180
// quoting, every cell safe to open in a spreadsheet (CsvText). Read: as
// spreadsheets and scripts write it, UTF-8 (with or without a byte-order
// mark) or Windows-1252, comma, semicolon or tab between fields, quoted
// fields that hold line breaks, the columns found by their header's name in
// Portuguese or English (Nome, Telefone, Celular, Endereço, Bairro, Cidade,
// UF, CEP, Observações; Name, Phone, Mobile, Street, City, State, Zip, Notes;
// Given Name with Family Name; several telephone columns).
class ContactCsv
{
public:
    static QString header();
    // One contact's row, ended by CRLF.
    static QString row(const ContactRecord &record);

    struct Read
    {
        QList<ImportRow> rows;
        QString encoding;
        QChar separator;
        QStringList ignoredColumns; // header names that mean nothing here
    };
    // False, with the reason, when the file has no header naming at least a
    // name or a telephone column.
    static bool read(const QByteArray &bytes, Read *result, QString *error);

    // What a header cell names (exposed for tests).
    enum class Column {
        Unknown,
        Code,
        Name,
        GivenName,
        FamilyName,
        Phone,
        Street,
        Complement,
        District,
        City,
        State,
        Postcode,
        Notes
    };
    static Column columnFor(const QString &headerCell);
};
