// Control-code texts as an operator types them into the print settings or as they come
// from an ini file brought along: DecodeCodeText must reject or decode, never misread.
//
// Input: the first byte picks how the rest becomes text (UTF-8, raw UTF-16 code units,
// Latin-1); the rest is the text.

#include "FuzzSupport.h"

#include "printing/PrintSettings.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

QString textOf(std::uint8_t mode, const char* data, qsizetype size) {
    switch (mode % 3) {
    case 0:
        return QString::fromUtf8(data, size);
    case 1: {
        QString text(size / 2, Qt::Uninitialized);
        std::memcpy(text.data(), data, static_cast<std::size_t>(text.size()) * 2);
        return text;
    }
    default:
        return QString::fromLatin1(data, size);
    }
}

// Every byte as the operator would write it: printable characters as they are, "<" as
// "<<", the rest in hexadecimal, with or without a leading zero and in upper or lower
// case as the byte's low bits say.
QString encode(const QByteArray& bytes) {
    QString text;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '<') {
            text += QStringLiteral("<<");
        } else if (b >= 0x20 && b < 0x7F && b != '>') {
            text += QLatin1Char(static_cast<char>(b));
        } else {
            QString hex = QStringLiteral("%1").arg(b, b & 1 ? 2 : 1, 16, QLatin1Char('0'));
            if (b & 2)
                hex = hex.toUpper();
            text += QLatin1Char('<') + hex + QLatin1Char('>');
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto* chars = reinterpret_cast<const char*>(data + 1);
    const auto length = static_cast<qsizetype>(size - 1);
    const QString text = textOf(data[0], chars, length);

    const std::optional<QByteArray> decoded = DecodeCodeText(text);
    if (decoded)
        FUZZ_CHECK(decoded->size() <= text.size(), text);

    if (!text.contains(QLatin1Char('<'))) {
        bool oneByte = true;
        for (const QChar c : text)
            oneByte = oneByte && c.unicode() <= 0xFF;
        if (oneByte)
            FUZZ_CHECK(decoded && *decoded == text.toLatin1(), text);
        else
            FUZZ_CHECK(!decoded, text);
    }

    // Any bytes written out as code text decode to themselves.
    const QByteArray bytes(chars, length);
    const QString written = encode(bytes);
    const std::optional<QByteArray> back = DecodeCodeText(written);
    FUZZ_CHECK(back && *back == bytes, written);
    return 0;
}
