#pragma once

#include <QByteArray>
#include <QString>

namespace orvanta {

// Exact single-byte code pages of our own, so that what reaches a receipt printer or
// is read from a file brought from Windows does not depend on the iconv build.
enum class CodePage { Oem866, Ansi1251 };

// One byte for one UTF-16 code unit; a character the page lacks becomes '?'.
char toCodePage(char16_t ch, CodePage page, bool* ok = nullptr);
QByteArray toCodePage(QStringView text, CodePage page);
QString fromCodePage(QByteArrayView bytes, CodePage page);

inline QByteArray toCp866(QStringView text) {
    return toCodePage(text, CodePage::Oem866);
}
inline QByteArray toCp1251(QStringView text) {
    return toCodePage(text, CodePage::Ansi1251);
}
inline QString fromCp866(QByteArrayView bytes) {
    return fromCodePage(bytes, CodePage::Oem866);
}
inline QString fromCp1251(QByteArrayView bytes) {
    return fromCodePage(bytes, CodePage::Ansi1251);
}

} // namespace orvanta
