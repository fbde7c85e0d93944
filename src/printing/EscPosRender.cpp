#include "printing/EscPosRender.h"

#include "platform/CodePages.h"
#include "printing/Code128.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>

namespace {

using Kind = EscPosRendering::Kind;
using Align = EscPosRendering::Align;
using Run = EscPosRendering::Run;

constexpr int kColumns = EscPosRendering::kColumns;
constexpr int kDotsPerColumn = 12;                        // font A: 12 by 24 dots
constexpr int kPrintableDots = kColumns * kDotsPerColumn; // what a barcode may span
constexpr int kDefaultBarHeight = 162;
constexpr int kDefaultModuleWidth = 3;

// The renderer builds the symbol from the values the stream's code-set selectors name, as
// the printer does, so a mixed-set symbol comes out as sent.

enum class CodeSet { None, A, B, C };

struct Code128 {
    QList<int> values;
    QString text;
    bool gs1 = false;
    QString problem;
};

int valueInSet(CodeSet set, int byte) {
    switch (set) {
    case CodeSet::A:
        return byte < 32 ? byte + 64 : byte <= 95 ? byte - 32 : -1;
    case CodeSet::B:
        return byte >= 32 && byte <= 127 ? byte - 32 : -1;
    case CodeSet::C:
        return byte <= 99 ? byte : -1;
    case CodeSet::None:
        break;
    }
    return -1;
}

QChar cp866Char(int byte) {
    static const QString table = [] {
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = static_cast<char>(b);
        return orvanta::fromCp866(all);
    }();
    return table.at(byte);
}

QString hexByte(int byte) {
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// The data of GS k 73: "{A", "{B" or "{C" first, then bytes of the current set (in set C
// one byte is one pair of digits, 0 to 99) and the pairs "{A" "{B" "{C" (switch), "{S"
// (shift one character between A and B), "{1".."{4" (FNC1..FNC4) and "{{" (a "{").
Code128 encodeCode128(const QByteArray& data) {
    Code128 code;
    auto fail = [&code](const QString& why) {
        code.values.clear();
        code.problem = why;
        return code;
    };
    CodeSet set = CodeSet::None;
    bool shift = false;
    qsizetype i = 0;
    while (i < data.size()) {
        int byte = static_cast<unsigned char>(data[i++]);
        if (byte == '{') {
            if (i >= data.size())
                return fail(QStringLiteral("«{» в конце данных"));
            const char selector = data[i++];
            if (set == CodeSet::None) {
                const int start = selector == 'A' ? 103 : selector == 'B' ? 104 : 105;
                if (selector != 'A' && selector != 'B' && selector != 'C')
                    return fail(QStringLiteral("данные не начинаются с {A, {B или {C"));
                code.values.append(start);
                set = selector == 'A' ? CodeSet::A : selector == 'B' ? CodeSet::B : CodeSet::C;
                continue;
            }
            if (shift && selector != '{')
                return fail(QStringLiteral("после {S нет символа"));
            const bool inC = set == CodeSet::C;
            switch (selector) {
            case 'A':
            case 'B':
            case 'C': {
                const CodeSet to = selector == 'A'   ? CodeSet::A
                                   : selector == 'B' ? CodeSet::B
                                                     : CodeSet::C;
                // Selecting the set in use sends nothing: in A and B the value of the
                // switch to the own set is FNC4.
                if (to != set)
                    code.values.append(to == CodeSet::A ? 101 : to == CodeSet::B ? 100 : 99);
                set = to;
                continue;
            }
            case 'S':
                if (inC)
                    return fail(QStringLiteral("{S в наборе C"));
                code.values.append(98);
                shift = true;
                continue;
            case '1':
                code.values.append(102);
                if (code.values.size() == 2)
                    code.gs1 = true; // a reader reports it as the GS1 mark, not as data
                else
                    code.text += QChar(0x1D);
                continue;
            case '2':
            case '3':
            case '4':
                if (inC)
                    return fail(QStringLiteral("{%1 в наборе C").arg(QLatin1Char(selector)));
                code.values.append(selector == '2'     ? 97
                                   : selector == '3'   ? 96
                                   : set == CodeSet::A ? 101
                                                       : 100);
                continue;
            case '{':
                break; // the "{" itself, as data below
            default:
                return fail(QStringLiteral("неизвестная пара {%1")
                                .arg(QString::fromLatin1(QByteArray(1, selector))));
            }
        }
        const CodeSet in = shift ? (set == CodeSet::A ? CodeSet::B : CodeSet::A) : set;
        shift = false;
        const int value = valueInSet(in, byte);
        if (value < 0)
            return fail(QStringLiteral("байт %1 не входит в набор %2")
                            .arg(hexByte(byte), in == CodeSet::A   ? QStringLiteral("A")
                                                : in == CodeSet::B ? QStringLiteral("B")
                                                                   : QStringLiteral("C")));
        code.values.append(value);
        code.text += in == CodeSet::C ? QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'))
                                      : QString(QChar(byte));
    }
    if (set == CodeSet::None)
        return fail(QStringLiteral("данные не начинаются с {A, {B или {C"));
    if (shift)
        return fail(QStringLiteral("после {S нет символа"));
    if (code.values.size() < 2)
        return fail(QStringLiteral("нет данных"));
    int sum = code.values.first();
    for (qsizetype k = 1; k < code.values.size(); ++k)
        sum = (sum + static_cast<int>(k) * code.values[k]) % 103;
    code.values.append(sum);
    return code;
}

// The widths in modules of a symbol's elements, bar first.
QByteArray code128Widths(const QList<int>& values) {
    QByteArray widths;
    for (const int v : values)
        widths += kCode128Patterns[v];
    widths += kCode128Stop;
    return widths;
}

int modulesOf(const QByteArray& widths) {
    int modules = 0;
    for (const char w : widths)
        modules += w - '0';
    return modules;
}

QString markText(QByteArrayView bytes, bool truncated) {
    QString text = QLatin1Char('[') + QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
    if (truncated)
        text += QStringLiteral(" …");
    return text + QLatin1Char(']');
}

// The characters of the line being received, by column, with the marks of unknown codes
// anchored at the column where they came.
struct Cell {
    QChar ch = QLatin1Char(' ');
    bool tail = false; // the right part of a wide character
    bool bold = false;
    int underline = 0;
    int size = 0;
};

struct Mark {
    int column = 0;
    QString text;
};

QList<Run> runsOf(const QList<int>& values) {
    QList<Run> runs;
    for (int i = 0; i < values.size(); ++i) {
        if (values[i] == 0)
            continue;
        if (!runs.isEmpty() && runs.last().start + runs.last().length == i &&
            runs.last().value == values[i])
            ++runs.last().length;
        else
            runs.append({i, 1, values[i]});
    }
    return runs;
}

class Parser {
public:
    explicit Parser(const QByteArray& stream)
        : m_s(stream) {}

    EscPosRendering run() {
        while (m_pos < m_s.size()) {
            const int byte = at(m_pos);
            switch (byte) {
            case 0x0A:
                ++m_pos;
                endLine();
                break;
            case 0x0D:
                ++m_pos;
                m_column = 0;
                break;
            case 0x09:
                ++m_pos;
                tab();
                break;
            case 0x10:
            case 0x1B:
            case 0x1C:
            case 0x1D:
                command();
                break;
            default:
                if (byte < 0x20) {
                    mark(m_pos, m_pos + 1);
                    ++m_pos;
                } else {
                    putChar(cp866Char(byte));
                    ++m_pos;
                }
            }
        }
        // A printer holds a line without its LF until more comes; shown all the same,
        // so that the end of the stream is visible.
        flushLine();
        return std::move(m_r);
    }

private:
    int at(qsizetype i) const { return static_cast<unsigned char>(m_s[i]); }

    // Whether the command has count bytes; if not, what there is of it is marked.
    bool need(qsizetype count) {
        if (m_pos + count <= m_s.size())
            return true;
        mark(m_pos, m_s.size(), true);
        m_pos = m_s.size();
        return false;
    }

    // An unknown command: its prefix and command byte are marked, unless the second byte
    // ends a line or begins a command, which is read afresh as what it is.
    void unknownCommand() {
        const int next = at(m_pos + 1);
        const bool resync = next == 0x0A || next == 0x0D || next == 0x10 || next == 0x1B ||
                            next == 0x1C || next == 0x1D;
        const qsizetype length = resync ? 1 : 2;
        mark(m_pos, m_pos + length);
        m_pos += length;
    }

    void mark(qsizetype from, qsizetype to, bool truncated = false) {
        const QByteArray bytes = m_s.mid(from, to - from);
        m_marks.append({m_column, markText(bytes, truncated)});
        m_pendingUnknown.append(static_cast<int>(m_r.unknown.size()));
        m_r.unknown.append({-1, from, bytes, truncated});
    }

    void putChar(QChar ch) {
        const int width = ((m_size >> 4) & 7) + 1;
        if (m_column + width > kColumns)
            endLine(); // the line is full: it prints and the character starts the next
        if (m_length == 0)
            m_lineAlign = m_align; // the alignment counts at the start of a line
        for (int k = 0; k < width; ++k) {
            Cell& cell = m_cells[static_cast<std::size_t>(m_column + k)];
            cell = {ch, k > 0, m_bold, m_underline, m_size};
        }
        m_column += width;
        m_length = std::max(m_length, m_column);
    }

    // The printer's tab stops lie every 8 columns; past the last one a tab does nothing.
    void tab() {
        const int next = (m_column / 8 + 1) * 8;
        if (next >= kColumns)
            return;
        if (m_length == 0)
            m_lineAlign = m_align;
        for (int c = m_column; c < next; ++c)
            m_cells[static_cast<std::size_t>(c)] = Cell{};
        m_column = next;
        m_length = std::max(m_length, m_column);
    }

    int addItem(Kind kind, int index) {
        EscPosRendering::Line line;
        line.kind = kind;
        line.index = index;
        line.align = m_align;
        m_r.lines.append(line);
        return static_cast<int>(m_r.lines.size() - 1);
    }

    // Prints the line buffer as a line, also when it is empty (a blank line).
    void endLine() {
        EscPosRendering::Line line;
        line.align = m_lineAlign;
        QList<int> bold, underline, sizes, marks;
        auto append = [&](const QString& text, bool isBold, int under, int size, bool isMark) {
            line.text += text;
            for (qsizetype k = 0; k < text.size(); ++k) {
                bold.append(isBold ? 1 : 0);
                underline.append(under);
                sizes.append(size);
                marks.append(isMark ? 1 : 0);
            }
        };
        auto marksAt = [&](int column, bool andLater) {
            for (const Mark& m : std::as_const(m_marks)) {
                if (m.column == column || (andLater && m.column > column))
                    append(m.text, false, 0, 0, true);
            }
        };
        for (int c = 0; c < m_length; ++c) {
            marksAt(c, false);
            const Cell& cell = m_cells[static_cast<std::size_t>(c)];
            if (!cell.tail)
                append(QString(cell.ch), cell.bold, cell.underline, cell.size, false);
        }
        marksAt(m_length, true);
        line.bold = runsOf(bold);
        line.underline = runsOf(underline);
        line.sizes = runsOf(sizes);
        // Neighbouring marks are separate codes: one run each.
        for (const Run& r : runsOf(marks)) {
            int start = r.start;
            for (int k = r.start + 1; k < r.start + r.length; ++k) {
                if (line.text[k] == QLatin1Char('[')) {
                    line.marks.append({start, k - start, 1});
                    start = k;
                }
            }
            line.marks.append({start, r.start + r.length - start, 1});
        }
        m_r.lines.append(line);
        for (const int u : std::as_const(m_pendingUnknown))
            m_r.unknown[u].line = static_cast<int>(m_r.lines.size() - 1);
        m_pendingUnknown.clear();
        m_marks.clear();
        m_cells.fill(Cell{});
        m_column = 0;
        m_length = 0;
        m_lineAlign = m_align;
    }

    // Logos, barcodes and cuts print below what the line buffer holds.
    void flushLine() {
        if (m_length > 0 || !m_marks.isEmpty())
            endLine();
    }

    void reset() {
        m_bold = false;
        m_underline = 0;
        m_size = 0;
        m_align = Align::Left;
        m_barHeight = kDefaultBarHeight;
        m_moduleWidth = kDefaultModuleWidth;
    }

    // A command of a prefix (DLE, ESC, FS, GS) and a command byte: known ones read their
    // argument bytes and act; each handler says how many bytes the command took, 0 when
    // the stream ended inside it (need() has marked that and moved to the end).
    void command() {
        struct Known {
            int prefix;
            int command;
            int arguments; // bytes after the command byte that every form of it has
            qsizetype (Parser::*act)(int n); // n: the first argument, 0 when there is none
        };
        static constexpr Known kKnown[] = {
            {0x10, 0x04, 1, &Parser::skipArgument}, // status request: answered, not printed
            {0x1B, '@', 0, &Parser::initialize},
            {0x1B, '2', 0, &Parser::skipCommand},  // default line spacing: the drawing keeps one
            {0x1B, 't', 1, &Parser::skipArgument}, // code table: every table is drawn as 866
            {0x1B, '3', 1, &Parser::skipArgument}, // line spacing
            {0x1B, 'E', 1, &Parser::setBold},
            {0x1B, '-', 1, &Parser::setUnderline},
            {0x1B, 'a', 1, &Parser::setAlign},
            {0x1B, 'd', 1, &Parser::feedLines},
            {0x1B, 'J', 1, &Parser::feedDots},
            {0x1C, 'p', 2, &Parser::logo},
            {0x1D, '!', 1, &Parser::setSize},
            {0x1D, 'h', 1, &Parser::setBarHeight},
            {0x1D, 'w', 1, &Parser::setModuleWidth},
            {0x1D, 'V', 1, &Parser::cut},     // one more byte, the feed, in some forms
            {0x1D, 'k', 1, &Parser::barcode}, // then its data, by the form of its system
        };
        if (!need(2))
            return;
        const int prefix = at(m_pos);
        const int byte = at(m_pos + 1);
        const auto known = std::find_if(std::begin(kKnown), std::end(kKnown), [&](const Known& k) {
            return k.prefix == prefix && k.command == byte;
        });
        if (known == std::end(kKnown)) {
            unknownCommand();
            return;
        }
        if (!need(2 + known->arguments))
            return;
        m_pos += (this->*known->act)(known->arguments > 0 ? at(m_pos + 2) : 0);
    }

    // Commands that change nothing the drawing shows, without and with their argument.
    qsizetype skipCommand(int /*n*/) { return 2; }
    qsizetype skipArgument(int /*n*/) { return 3; }

    qsizetype initialize(int /*n*/) {
        reset();
        return 2;
    }

    qsizetype setBold(int n) {
        m_bold = n & 1;
        return 3;
    }

    // ESC - and ESC a take 0..2 as a number or a digit; a printer ignores anything else,
    // which the operator should see.
    static int smallArgument(int n) { return n >= '0' ? n - '0' : n; }

    qsizetype setUnderline(int n) {
        if (const int v = smallArgument(n); v > 2)
            mark(m_pos, m_pos + 3);
        else
            m_underline = v;
        return 3;
    }

    qsizetype setAlign(int n) {
        if (const int v = smallArgument(n); v > 2)
            mark(m_pos, m_pos + 3);
        else
            m_align = static_cast<Align>(v);
        return 3;
    }

    qsizetype feedLines(int n) {
        if (n == 0) {
            flushLine();
        } else {
            endLine();
            for (int k = 1; k < n; ++k)
                endLine();
        }
        return 3;
    }

    qsizetype feedDots(int n) {
        flushLine();
        EscPosRendering::Line feed;
        feed.kind = Kind::Feed;
        feed.dots = n;
        m_r.lines.append(feed);
        return 3;
    }

    qsizetype setSize(int n) {
        m_size = n & 0x77;
        return 3;
    }

    qsizetype setBarHeight(int n) {
        if (n == 0)
            mark(m_pos, m_pos + 3);
        else
            m_barHeight = n;
        return 3;
    }

    qsizetype setModuleWidth(int n) {
        if (n < 1 || n > 6)
            mark(m_pos, m_pos + 3);
        else
            m_moduleWidth = n;
        return 3;
    }

    qsizetype cut(int m) {
        int feed = 0;
        qsizetype length = 3;
        switch (m) {
        case 0:
        case 1:
        case 48:
        case 49:
            break;
        case 65:
        case 66:
        case 97:
        case 98:
        case 103:
        case 104:
            if (!need(4))
                return 0;
            feed = at(m_pos + 3);
            length = 4;
            break;
        default:
            mark(m_pos, m_pos + 3);
            return 3;
        }
        flushLine();
        const bool partial = m == 1 || m == 49 || m == 66 || m == 98 || m == 104;
        const int line = addItem(Kind::Cut, static_cast<int>(m_r.cuts.size()));
        m_r.cuts.append({line, partial, feed});
        return length;
    }

    qsizetype barcode(int system) {
        QByteArray data;
        qsizetype length = 0;
        if (system <= 6) {
            const qsizetype end = m_s.indexOf('\0', m_pos + 3);
            if (end < 0) {
                need(m_s.size() - m_pos + 1); // marks the rest as cut off
                return 0;
            }
            data = m_s.mid(m_pos + 3, end - m_pos - 3);
            length = end + 1 - m_pos;
        } else if (system >= 65 && system <= 73) {
            if (!need(4))
                return 0;
            const int n = at(m_pos + 3);
            if (!need(4 + n))
                return 0;
            data = m_s.mid(m_pos + 4, n);
            length = 4 + n;
        } else {
            mark(m_pos, m_pos + 3);
            return 3;
        }
        flushLine();
        EscPosRendering::Barcode code;
        code.system = system;
        code.data = data;
        code.height = m_barHeight;
        code.moduleWidth = m_moduleWidth;
        if (system == 73) {
            const Code128 encoded = encodeCode128(data);
            code.text = encoded.text;
            code.values = encoded.values;
            code.gs1 = encoded.gs1;
            code.problem = encoded.problem;
            if (code.problem.isEmpty() &&
                modulesOf(code128Widths(code.values)) * m_moduleWidth > kPrintableDots) {
                code.values.clear();
                code.problem = QStringLiteral("шире бумаги: принтер его не напечатает");
            }
        } else {
            code.text = QString::fromLatin1(data);
            code.problem = QStringLiteral("этот вид штрихкода здесь не рисуется");
        }
        code.line = addItem(Kind::Barcode, static_cast<int>(m_r.barcodes.size()));
        m_r.barcodes.append(code);
        return length;
    }

    // FS p n m: the stored image n, m its doubling.
    qsizetype logo(int n) {
        flushLine();
        const int line = addItem(Kind::Logo, static_cast<int>(m_r.logos.size()));
        m_r.logos.append({line, n, at(m_pos + 3)});
        return 4;
    }

    const QByteArray& m_s;
    qsizetype m_pos = 0;
    EscPosRendering m_r;

    std::array<Cell, kColumns> m_cells{};
    int m_column = 0;
    int m_length = 0; // columns the line holds
    QList<Mark> m_marks;
    QList<int> m_pendingUnknown; // unknown codes of the line being received
    Align m_lineAlign = Align::Left;

    bool m_bold = false;
    int m_underline = 0;
    int m_size = 0;
    Align m_align = Align::Left;
    int m_barHeight = kDefaultBarHeight;
    int m_moduleWidth = kDefaultModuleWidth;
};

// ---- drawing ----------------------------------------------------------------------

constexpr int kLogoHeight = 96;
constexpr int kMarkedPlaceHeight = 60;
const QColor kPaper(Qt::white);
const QColor kSurround(0xD8, 0xD8, 0xD8);
const QColor kInk(Qt::black);
const QColor kMarkInk(0xC0, 0x10, 0x10);
const QColor kMarkBack(0xFF, 0xE0, 0xE0);
const QColor kPlaceInk(0x20, 0x50, 0xB0);

int runValueAt(const QList<Run>& runs, int i) {
    for (const Run& r : runs) {
        if (i >= r.start && i < r.start + r.length)
            return r.value;
    }
    return 0;
}

// Dots across of each character of a text line: a mark's character is one column, a
// printed one as many as its width.
QList<int> charWidths(const EscPosRendering::Line& line) {
    QList<int> widths;
    widths.reserve(line.text.size());
    for (int i = 0; i < line.text.size(); ++i) {
        const int size = runValueAt(line.sizes, i);
        const bool isMark = runValueAt(line.marks, i) != 0;
        widths.append(kDotsPerColumn * (isMark ? 1 : ((size >> 4) & 7) + 1));
    }
    return widths;
}

int lineScale(const EscPosRendering::Line& line) {
    int scale = 1;
    for (const Run& r : line.sizes)
        scale = std::max(scale, (r.value & 7) + 1);
    return scale;
}

int alignOffset(Align align, int used, int width) {
    const int free = std::max(0, width - used);
    return align == Align::Center ? free / 2 : align == Align::Right ? free : 0;
}

int itemHeight(const EscPosRendering& r, const EscPosRendering::Line& line,
               const EscPosDrawOptions& o) {
    switch (line.kind) {
    case Kind::Text:
        return o.lineHeight * lineScale(line);
    case Kind::Feed:
        return line.dots;
    case Kind::Barcode: {
        const EscPosRendering::Barcode& code = r.barcodes[line.index];
        return code.problem.isEmpty() ? code.height + 8 : kMarkedPlaceHeight + 8;
    }
    case Kind::Logo:
        return (r.logos[line.index].mode & 2 ? 2 : 1) * kLogoHeight + 8;
    case Kind::Cut:
        return r.cuts[line.index].feed + o.lineHeight;
    }
    return 0;
}

void drawDashedBox(QPainter& p, const QRect& box, const QColor& color, const QString& text) {
    p.save();
    QPen pen(color, 2, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(box.adjusted(1, 1, -1, -1));
    p.setPen(color);
    p.drawText(box.adjusted(8, 0, -8, 0), Qt::AlignCenter | Qt::TextWordWrap, text);
    p.restore();
}

} // namespace

QStringList EscPosRendering::textLines() const {
    QStringList texts;
    for (const Line& line : lines) {
        if (line.kind != Kind::Text)
            continue;
        qsizetype end = line.text.size();
        while (end > 0 && line.text[end - 1] == QLatin1Char(' '))
            --end;
        texts.append(line.text.left(end));
    }
    return texts;
}

EscPosRendering renderEscPos(const QByteArray& stream) {
    return Parser(stream).run();
}

QString escPosBarcodeSystemName(int system) {
    switch (system >= 65 ? system - 65 : system) {
    case 0:
        return QStringLiteral("UPC-A");
    case 1:
        return QStringLiteral("UPC-E");
    case 2:
        return QStringLiteral("EAN-13");
    case 3:
        return QStringLiteral("EAN-8");
    case 4:
        return QStringLiteral("Code 39");
    case 5:
        return QStringLiteral("ITF");
    case 6:
        return QStringLiteral("Codabar");
    case 7:
        return system >= 65 ? QStringLiteral("Code 93") : QStringLiteral("?");
    case 8:
        return system >= 65 ? QStringLiteral("Code 128") : QStringLiteral("?");
    default:
        return QStringLiteral("?");
    }
}

QImage drawEscPos(const EscPosRendering& r, const EscPosDrawOptions& o) {
    constexpr int kPaperMargin = 32; // an 80 mm roll is 640 dots; the head prints 576
    const int paperWidth = o.paperWidth + 2 * kPaperMargin;
    const int top = o.lineHeight / 2;

    // What fits below the height limit, and how wide the widest line with marks runs.
    int height = top;
    int widest = o.paperWidth;
    qsizetype shown = 0;
    for (; shown < r.lines.size(); ++shown) {
        const EscPosRendering::Line& line = r.lines[shown];
        const int h = itemHeight(r, line, o);
        if (height + h > o.maxHeight - 2 * o.lineHeight)
            break;
        height += h;
        if (line.kind == Kind::Text) {
            const QList<int> widths = charWidths(line);
            int used = 0;
            for (const int w : widths)
                used += w;
            widest = std::max(widest, used);
        }
    }
    const bool cutShort = shown < r.lines.size();
    height += cutShort ? 2 * o.lineHeight : o.lineHeight;

    const int imageWidth = 2 * o.margin + std::max(paperWidth, widest + 2 * kPaperMargin);
    QImage image(imageWidth, height, QImage::Format_RGB32);
    image.fill(kSurround);
    QPainter p(&image);
    p.fillRect(QRect(o.margin, 0, paperWidth, height), kPaper);
    const int left = o.margin + kPaperMargin;

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(20); // 12 dots across, as the printer's font A
    QFont bold = font;
    bold.setBold(true);
    QFont small = font;
    small.setPixelSize(16);

    p.setFont(font); // also the text of the marked places
    int y = top;
    for (qsizetype li = 0; li < shown; ++li) {
        const EscPosRendering::Line& line = r.lines[li];
        const int h = itemHeight(r, line, o);
        switch (line.kind) {
        case Kind::Text: {
            const QList<int> widths = charWidths(line);
            int used = 0;
            for (const int w : widths)
                used += w;
            int x = left + alignOffset(line.align, used, o.paperWidth);
            const int scale = lineScale(line);
            for (int i = 0; i < line.text.size(); ++i) {
                const int w = widths[i];
                const bool isMark = runValueAt(line.marks, i) != 0;
                const int size = isMark ? 0 : runValueAt(line.sizes, i);
                const int sx = ((size >> 4) & 7) + 1;
                const int sy = (size & 7) + 1;
                // Characters of a tall line stand on its base line, as on paper.
                const QRect cell(x, y + (scale - sy) * o.lineHeight, kDotsPerColumn, o.lineHeight);
                if (isMark) {
                    p.fillRect(QRect(x, y + 2, w, o.lineHeight - 4), kMarkBack);
                    p.setPen(kMarkInk);
                    p.drawText(cell, Qt::AlignCenter, QString(line.text[i]));
                } else {
                    p.save();
                    p.translate(cell.topLeft());
                    p.scale(sx, sy);
                    p.setFont(runValueAt(line.bold, i) ? bold : font);
                    p.setPen(kInk);
                    p.drawText(QRect(0, 0, cell.width(), cell.height()), Qt::AlignCenter,
                               QString(line.text[i]));
                    p.restore();
                    if (const int under = runValueAt(line.underline, i))
                        p.fillRect(QRect(x, y + scale * o.lineHeight - 4, w, under), kInk);
                }
                x += w;
            }
            break;
        }
        case Kind::Feed:
            break;
        case Kind::Barcode: {
            const EscPosRendering::Barcode& code = r.barcodes[line.index];
            if (!code.problem.isEmpty()) {
                drawDashedBox(p, QRect(left, y + 4, o.paperWidth, kMarkedPlaceHeight), kPlaceInk,
                              QStringLiteral("штрихкод %1 «%2»: %3")
                                  .arg(escPosBarcodeSystemName(code.system),
                                       QString::fromLatin1(code.data).left(40), code.problem));
                break;
            }
            const QByteArray widths = code128Widths(code.values);
            const int total = modulesOf(widths) * code.moduleWidth;
            int x = left + alignOffset(line.align, total, o.paperWidth);
            bool bar = true;
            for (const char w : widths) {
                const int dots = (w - '0') * code.moduleWidth;
                if (bar)
                    p.fillRect(QRect(x, y + 4, dots, code.height), kInk);
                x += dots;
                bar = !bar;
            }
            break;
        }
        case Kind::Logo: {
            const EscPosRendering::Logo& logo = r.logos[line.index];
            drawDashedBox(p, QRect(left, y + 4, o.paperWidth, h - 8), kPlaceInk,
                          QStringLiteral("логотип №%1").arg(logo.number));
            break;
        }
        case Kind::Cut: {
            const EscPosRendering::Cut& cut = r.cuts[line.index];
            const int cy = y + cut.feed + o.lineHeight / 2;
            p.save();
            p.setPen(QPen(Qt::darkGray, 2, Qt::DashLine));
            p.drawLine(o.margin, cy, o.margin + paperWidth, cy);
            const QString label =
                cut.partial ? QStringLiteral("отрез (частичный)") : QStringLiteral("отрез");
            p.setFont(small);
            const QFontMetrics metrics(small);
            const QRect box(left + o.paperWidth - metrics.horizontalAdvance(label) - 16,
                            cy - o.lineHeight / 2, metrics.horizontalAdvance(label) + 12,
                            o.lineHeight);
            p.fillRect(box, kPaper);
            p.setPen(Qt::darkGray);
            p.drawText(box, Qt::AlignCenter, label);
            p.restore();
            break;
        }
        }
        y += h;
    }
    if (cutShort) {
        p.setFont(small);
        p.setPen(kPlaceInk);
        p.drawText(
            QRect(left, y, o.paperWidth, 2 * o.lineHeight), Qt::AlignCenter,
            QStringLiteral("… дальше не показано: %1 из %2 строк").arg(shown).arg(r.lines.size()));
    }
    return image;
}
