#pragma once

#include <QString>
#include <QStringView>

namespace orvanta {

// Makes a text from an order document or a locale format fit for a character printer
// that prints code page 866:
// - a control character (below U+0020) becomes a space, so that a name or a header
//   line can never carry a printer command (ESC, GS, FS, a line feed) into the stream;
// - a character the code page lacks but receipts often carry is written with its plain
//   equivalent: the rouble sign as "р.", typographic quotes as '"' and "'", dashes and
//   the minus sign as "-", the ellipsis as "...", no-break and thin spaces as a space.
// Anything else the code page lacks is left for the code page to turn into "?". The
// result may be longer than the text, so lay out the result, never the text.
QString receiptText(QStringView text);

} // namespace orvanta
