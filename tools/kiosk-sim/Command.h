#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kiosksim {

enum class Verb {
    Start,
    Finish,
    Stop,
    Pay,
    End,
    Drop,
    Silent,
    Talk,
    Offline,
    Online,
    Send,
    Write,
    Flood,
    Version,
    Status,
    Sleep,
    WaitConnected,
    WaitDisconnected,
    WaitRecv,
    Echo,
    Help,
    Quit,
};

// One parsed command line of the script or of standard input.
struct Command {
    Verb verb = Verb::Help;
    // Kiosks the command applies to, numbered from 1, both ends included.
    int first = 1;
    int last = 1;
    QStringList args;
    // Payload of send, write and flood.
    QByteArray bytes;
    // The lines that end a wait-recv (written WORD|WORD|...).
    QList<QByteArray> words;
    // Milliseconds of sleep, the time-out of a wait (-1: none), the size of a flood.
    qint64 number = -1;
    // Text of echo and version.
    QString text;
    // Folder that relative file names of pay are taken from (the script's folder).
    QString baseDir;
    // The line as written, for messages.
    QString source;
};

enum class ParseResult { Command, Empty, Error };

// Parses one line: "[KIOSKS] VERB [ARGS]", KIOSKS being N, N-M, "all" or "*"; without
// it a command applies to all kiosks. Blank lines and lines starting with "#" are Empty.
ParseResult parseCommand(const QString& line, int kioskCount, const QString& baseDir,
                         Command* command, QString* error);

// The command reference shown by --help and by the help command.
QString commandHelp();

} // namespace kiosksim
