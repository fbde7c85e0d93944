#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace kiosksim {

// The value escaping of INVOICE= and ORDER_XML=: the console turns every "%HH" back into
// one character of at most U+00FF, so CR, LF, "%" and the other control characters must
// travel as %HH, while everything else (Cyrillic above all) travels as plain UTF-8: an
// escaped UTF-8 byte would come back as a Latin-1 character, not as the letter.
QByteArray percentEscape(QStringView text);

// The notation of the send and write commands, so that a test can put any byte on the
// line: \r \n \t \0 \\ and \xHH; every other character goes out as UTF-8.
// Returns false and fills error for an unknown or incomplete escape.
bool decodeBackslashes(QStringView text, QByteArray* bytes, QString* error);

// A line's bytes as the trace shows them: valid UTF-8 as it is, control characters and
// bytes that are not UTF-8 as \xHH, cut after limit bytes with the size of the rest.
QString printable(const QByteArray& bytes, qsizetype limit);

// Strict UTF-8 decoding of a file's contents (a leading byte order mark is dropped);
// false when the bytes are not UTF-8, so that a wrong file is refused instead of being
// sent with replacement characters.
bool decodeUtf8(const QByteArray& bytes, QString* text);

} // namespace kiosksim
