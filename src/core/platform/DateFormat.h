#pragma once

#include <QString>

// The desktop has no system-wide short-date setting to change, so the program
// makes the requested format its own default through the locale.
class DateFormat
{
public:
    virtual ~DateFormat() = default;
    // False when the format cannot be made the default.
    virtual bool setShortDateFormat(const QString &format) = 0;

    // The implementation in force; tests put their own in place.
    static DateFormat &instance();
    static void setInstance(DateFormat *replacement);
};

// Makes Brazilian Portuguese the default locale when its short date format is
// the one asked for.
class LocaleDateFormat : public DateFormat
{
public:
    bool setShortDateFormat(const QString &format) override;
};
