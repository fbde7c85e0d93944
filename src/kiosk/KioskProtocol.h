#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// The commands the console sends to a kiosk.
enum TKioskCommand {
    kcNone,
    kcGetVersion,
    kcGetWorkState,
    kcConfirmOrder,
    kcCancelOrder,
    kcReturnToOrder,
    kcGetInvoice,
    kcGetXMLInvoice,
    kcKeepAlive,
};

// The protocol word of a command; empty for kcNone.
QByteArray KioskCommandWord(TKioskCommand command);

// What a line from a kiosk means to the console.
enum class TKioskLineKind {
    Ignored,
    Version,
    OrderSum,
    OrderXml,
    Invoice,
    PayBlock,
    PayEnd,
    SessionStart,
    SessionStop,
    OrderingFinish,
};

struct TKioskLine {
    TKioskLineKind Kind = TKioskLineKind::Ignored;
    QString Value; // the text after the key, as received (not yet decoded)
};

// Keys are matched without regard to letter case; whole-line words must stand alone.
TKioskLine MatchKioskLine(const QString& line);

// "%" and two hexadecimal digits give the character of that code (U+0000..U+00FF);
// everything else stands for itself. A "%" without two digits after it throws.
QString PercentDecode(const QString& value);

// The value of "ORDER_SUM=": a "." decimal number, optional leading blanks, sign and
// exponent, nothing after it. -1 when it cannot be read.
double ParseOrderSum(const QString& value);

// UTF-8 (invalid sequences become U+FFFD), then split once more at lone CR or LF;
// empty lines yield nothing.
QStringList DecodeKioskLine(const QByteArray& line);

// Bytes received from a kiosk that are not yet split into lines. Scanning resumes
// where the last scan stopped and consumed lines are dropped in bulk, so a long line
// arriving in small reads costs time linear in its length.
class TLineBuffer {
public:
    // A kiosk that sends this much without a line end is cut off.
    static constexpr std::size_t kMaxLineBytes = 16u * 1024u * 1024u;

    void Append(const char* data, std::size_t size);
    // The bytes before the first CR LF, removed with it; nothing when no line is complete.
    std::optional<QByteArray> ExtractLine();
    // True when the unfinished tail has grown past kMaxLineBytes.
    bool Overlong() const;
    void Clear();
    std::size_t Size() const { return static_cast<std::size_t>(m_data.size()) - m_start; }

private:
    QByteArray m_data;
    std::size_t m_start = 0; // first byte not yet taken out
    std::size_t m_scan = 0;  // bytes from m_start already known to hold no CR LF
};
