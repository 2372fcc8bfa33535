#pragma once

#include <QTranslator>

// The few texts of Qt's file dialog that Debian's Portuguese catalogue of Qt
// lacks (the type of a folder or a drive, which Qt translates in a context
// the catalogue does not have). Installed after that catalogue, so that it
// is asked first; it answers those texts only and leaves the rest to Qt's.
class QtTextsSupplement : public QTranslator
{
    Q_OBJECT

public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation, int n) const override;
    bool isEmpty() const override { return false; }
};
