#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// What an ESC/POS receipt printer of 48 columns would make of a byte stream, read from the
// bytes themselves rather than from the order, so that a preview shows what the printer
// gets: text in code page 866, bold, underline, sizes, feeds, logos, Code 128 symbols and
// cuts. Whatever the reader does not know stays visible as a marked place with its bytes;
// nothing of the stream is dropped without a trace.
struct EscPosRendering {
    static constexpr int kColumns = 48;

    enum class Kind {
        Text,    // a printed line (possibly empty)
        Feed,    // paper advanced by dots (ESC J)
        Barcode, // barcodes[index]
        Logo,    // logos[index]
        Cut,     // cuts[index]
    };
    enum class Align { Left, Center, Right };

    // A run of characters of a line's text that share an attribute: the underline's
    // thickness in dots, the GS ! size byte; 1 for bold and for marks.
    struct Run {
        int start = 0;
        int length = 0;
        int value = 1;
        bool operator==(const Run&) const = default;
    };

    struct Line {
        Kind kind = Kind::Text;
        // The characters as they stand on the line, spaces sent included; the marks of
        // unknown codes ("[1B 74]") stand among them where the codes came.
        QString text;
        QList<Run> bold;
        QList<Run> underline;
        QList<Run> sizes; // characters printed larger than normal
        QList<Run> marks;
        Align align = Align::Left;
        int index = -1; // into barcodes, logos or cuts
        int dots = 0;   // the feed of a Feed item
    };

    struct Barcode {
        int line = -1;
        int system = 73;     // m of GS k
        QByteArray data;     // the data bytes as sent
        QString text;        // what a reader reads from the symbol
        QList<int> values;   // Code 128: start, data and check symbols; empty when not drawn
        bool gs1 = false;    // Code 128 that begins with FNC1
        int height = 162;    // dots (GS h)
        int moduleWidth = 3; // dots per module (GS w)
        QString problem;     // why no symbol is drawn, for the marked place; empty if drawn
    };

    struct Logo {
        int line = -1;
        int number = 0; // the key code of the stored image
        int mode = 0;   // 0 normal, 1 double width, 2 double height, 3 both
    };

    struct Cut {
        int line = -1;
        bool partial = false;
        int feed = 0; // dots fed before cutting
    };

    // Bytes the reader did not take as a command it knows, or a command the stream
    // ended in the middle of.
    struct Unknown {
        int line = -1;
        qsizetype offset = 0;
        QByteArray bytes;
        bool truncated = false;
    };

    QList<Line> lines; // from the top of the paper down
    QList<Barcode> barcodes;
    QList<Logo> logos;
    QList<Cut> cuts;
    QList<Unknown> unknown;

    // The texts of the Text lines with the trailing spaces removed.
    QStringList textLines() const;
};

// Reads the stream the way the printer would. Never fails: a stream that ends inside a
// command marks what it got.
EscPosRendering renderEscPos(const QByteArray& stream);

struct EscPosDrawOptions {
    int paperWidth = 576; // dots of an 80 mm printer at 203 dpi: 48 columns of 12 dots
    int margin = 16;      // grey around the paper strip
    int lineHeight = 30;  // dots of one line of normal size
    // The drawing stops once it is this tall; what follows is noted, not drawn.
    int maxHeight = 30000;
};

// Draws the rendering on a white paper strip, one pixel for one printer dot, in a
// monospace font with Cyrillic, so that barcodes drawn at their module width scan.
QImage drawEscPos(const EscPosRendering& rendering, const EscPosDrawOptions& options = {});

// The printable name of an ESC/POS barcode system (m of GS k), "?" for one it lacks.
QString escPosBarcodeSystemName(int system);
