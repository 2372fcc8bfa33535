#include "core/app/QtTextsSupplement.h"

#include <cstring>

namespace {

struct Text
{
    const char *context;
    const char *source;
    const char *portuguese;
};

// The file type column and the places of Qt's file dialog.
constexpr Text Texts[] = {
    { "QAbstractFileIconProvider", "Folder", "Pasta" },
    { "QAbstractFileIconProvider", "Drive", "Unidade" },
    { "QAbstractFileIconProvider", "Shortcut", "Atalho" },
    { "QAbstractFileIconProvider", "Alias", "Atalho" },
    { "QAbstractFileIconProvider", "File Folder", "Pasta" },
};

} // namespace

QString QtTextsSupplement::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (!context || !sourceText)
        return {};
    for (const Text &text : Texts)
        if (std::strcmp(context, text.context) == 0 && std::strcmp(sourceText, text.source) == 0)
            return QString::fromUtf8(text.portuguese);
    return {};
}
