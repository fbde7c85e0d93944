// Line handling of the kiosk link: a 1 MiB "ORDER_XML=" line arriving in 1023-byte
// reads, and a stream of short state lines. Run: build/<preset>/bench/protocol
#include "kiosk/KioskProtocol.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

namespace {

// The escaped payload of a 1 MiB order document line.
QByteArray bigLine() {
    QByteArray line = "ORDER_XML=";
    const QByteArray piece =
        "<item><shortname>\xD0\x9A\xD0\xBE\xD1\x84\xD0\xB5</shortname>%0D%0A</item>";
    while (line.size() < (1 << 20))
        line += piece;
    return line + "\r\n";
}

// Splitting only: the buffer must stay linear when the line comes in small reads.
void BM_MegabyteLineInSmallReads(benchmark::State& state) {
    const QByteArray line = bigLine();
    for (auto _ : state) {
        TLineBuffer buffer;
        int lines = 0;
        for (qsizetype at = 0; at < line.size(); at += 1023) {
            buffer.Append(line.constData() + at,
                          static_cast<std::size_t>(std::min<qsizetype>(1023, line.size() - at)));
            while (auto l = buffer.ExtractLine())
                ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * line.size());
}
BENCHMARK(BM_MegabyteLineInSmallReads)->Unit(benchmark::kMillisecond);

// What happens after the last byte: extracting, decoding and matching the line.
void BM_MegabyteLineDecode(benchmark::State& state) {
    const QByteArray line = bigLine();
    for (auto _ : state) {
        TLineBuffer buffer;
        buffer.Append(line.constData(), static_cast<std::size_t>(line.size()));
        const QByteArray raw = *buffer.ExtractLine();
        const QStringList decoded = DecodeKioskLine(raw);
        const TKioskLine match = MatchKioskLine(decoded.front());
        benchmark::DoNotOptimize(PercentDecode(match.Value).size());
    }
    state.SetBytesProcessed(state.iterations() * line.size());
}
BENCHMARK(BM_MegabyteLineDecode)->Unit(benchmark::kMillisecond);

void BM_MillionStateLines(benchmark::State& state) {
    QByteArray stream;
    const char* words[] = {"SESSION_START\r\n", "ORDERING_FINISH\r\n", "SESSION_STOP\r\n",
                           "PAY_END\r\n"};
    for (int i = 0; i < 1000000; ++i)
        stream += words[i % 4];
    for (auto _ : state) {
        TLineBuffer buffer;
        int matched = 0;
        for (qsizetype at = 0; at < stream.size(); at += 1023) {
            buffer.Append(stream.constData() + at,
                          static_cast<std::size_t>(std::min<qsizetype>(1023, stream.size() - at)));
            while (auto l = buffer.ExtractLine())
                for (const QString& d : DecodeKioskLine(*l))
                    matched += MatchKioskLine(d).Kind != TKioskLineKind::Ignored;
        }
        benchmark::DoNotOptimize(matched);
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_MillionStateLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
