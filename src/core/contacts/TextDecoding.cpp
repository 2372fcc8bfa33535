#include "core/contacts/TextDecoding.h"

#include <QStringDecoder>

namespace TextDecoding {

QString fromWindows1252(QByteArrayView bytes)
{
    // 0x80-0x9F: the letters and signs Windows puts where Latin-1 has control
    // codes; the five it leaves unassigned read as themselves.
    static constexpr char16_t High[32] = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
        0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
        0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = b >= 0x80 && b < 0xA0 ? QChar(High[b - 0x80]) : QChar(b);
    }
    return text;
}

QString decode(const QByteArray &bytes, QString *encoding)
{
    auto named = [&](const char *name, QString text) {
        if (encoding)
            *encoding = QLatin1String(name);
        return text;
    };
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return named("UTF-8", QString::fromUtf8(bytes.mid(3)));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(QStringDecoder::Utf16, QStringDecoder::Flag::Stateless);
        return named("UTF-16", QString(utf16(bytes)));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return named("UTF-8", text);
    return named("Windows-1252", fromWindows1252(bytes));
}

} // namespace TextDecoding
