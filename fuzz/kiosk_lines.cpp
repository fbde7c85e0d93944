// The bytes a kiosk sends, cut into reads of varying size as the socket delivers them,
// through the line buffer and every decoder the connection thread applies to a line.
//
// Input: the first byte seeds the read sizes; the rest is the byte stream.

#include "FuzzSupport.h"

#include "kiosk/KioskProtocol.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void checkDecodedLine(const QString& line) {
    FUZZ_CHECK(!line.isEmpty(), line);
    FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')), line);

    const TKioskLine match = MatchKioskLine(line);
    FUZZ_CHECK(line.endsWith(match.Value), line);
    switch (match.Kind) {
    case TKioskLineKind::OrderSum:
        ParseOrderSum(match.Value);
        break;
    case TKioskLineKind::OrderXml:
    case TKioskLineKind::Invoice:
        try {
            const QString text = PercentDecode(match.Value);
            FUZZ_CHECK(text.size() <= match.Value.size(), match.Value);
            if (!match.Value.contains(QLatin1Char('%')))
                FUZZ_CHECK(text == match.Value, match.Value);
        } catch (const orvanta::Exception&) {
            // A broken escape: the connection thread reports it and drops the line.
            FUZZ_CHECK(match.Value.contains(QLatin1Char('%')), match.Value);
        }
        break;
    case TKioskLineKind::Version:
        break;
    default:
        FUZZ_CHECK(match.Value.isEmpty(), line);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::uint32_t seed = data[0];
    const QByteArray stream(reinterpret_cast<const char*>(data + 1),
                            static_cast<qsizetype>(size - 1));

    TLineBuffer buffer;
    std::size_t appended = 0;
    std::size_t taken = 0; // bytes of the stream taken out, line ends included
    while (appended < static_cast<std::size_t>(stream.size())) {
        // Reads of 1 to 64 bytes, now and then a large one, like a busy socket.
        seed = seed * 1103515245u + 12345u;
        std::size_t chunk = 1 + (seed >> 16) % 64;
        if ((seed >> 8) % 7 == 0)
            chunk = 4096;
        chunk = std::min(chunk, static_cast<std::size_t>(stream.size()) - appended);
        buffer.Append(stream.constData() + appended, chunk);
        appended += chunk;

        while (auto line = buffer.ExtractLine()) {
            FUZZ_CHECK(!line->contains("\r\n"), QString::fromLatin1(*line));
            // The line is exactly the next bytes of the stream, followed by CR LF.
            const QByteArray expected = stream.mid(static_cast<qsizetype>(taken), line->size());
            FUZZ_CHECK(*line == expected, QString::fromLatin1(*line));
            FUZZ_CHECK(stream.mid(static_cast<qsizetype>(taken) + line->size(), 2) == "\r\n",
                       QString::fromLatin1(*line));
            taken += static_cast<std::size_t>(line->size()) + 2;
            FUZZ_CHECK(taken + buffer.Size() == appended, QString::number(taken));
            if (line->isEmpty())
                continue;
            for (const QString& decoded : DecodeKioskLine(*line))
                checkDecodedLine(decoded);
        }
        FUZZ_CHECK(taken + buffer.Size() == appended, QString::number(taken));
        // No complete line may be left behind once the buffer says there is none.
        const QByteArray rest =
            stream.mid(static_cast<qsizetype>(taken), static_cast<qsizetype>(appended - taken));
        FUZZ_CHECK(!rest.contains("\r\n"), QString::fromLatin1(rest));
        FUZZ_CHECK(buffer.Overlong() == (buffer.Size() > TLineBuffer::kMaxLineBytes),
                   QString::number(buffer.Size()));
    }
    buffer.Clear();
    FUZZ_CHECK(buffer.Size() == 0 && !buffer.ExtractLine(), QString());
    return 0;
}
