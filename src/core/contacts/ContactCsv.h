#pragma once

#include "core/contacts/ImportRow.h"

#include <QByteArray>
#include <QHash>
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

    // What a header cell names.
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
    // The field names as the user chooses among them, in the order offered
    // (Column::Unknown, "pular", leaves the column out).
    static QList<std::pair<Column, QString>> choices();
    // The field a user's answer names: a number of choices(), or a field's
    // name in any of the header spellings, or "pular"/"skip". False when it
    // names none.
    static bool choiceFor(const QString &answer, Column *column);
    // The header column an answer names: its number from 1, or its header.
    static int columnIndexFor(const QStringList &header, const QString &answer);

    struct Read
    {
        QList<ImportRow> rows;
        QString encoding;
        QChar separator;
        QStringList header;
        QStringList example; // the first row's cells, to show beside the header
        QList<Column> columns; // what each header column was taken as
        QStringList ignoredColumns; // header names that mean nothing here
        // Columns whose header names no field, or claims a field another
        // column claims too, and that no choice settled: the user is asked.
        QList<int> unclear;
    };
    // `chosen` settles columns by their index. False, with the reason, when
    // the header names neither a name nor a telephone column and no column is
    // left to be asked about.
    static bool read(const QByteArray &bytes, Read *result, QString *error, const QHash<int, Column> &chosen = {});
};
