#include "Command.h"

#include "Escaping.h"

#include <QRegularExpression>

#include <array>

namespace kiosksim {

namespace {

enum class Targets { None, Kiosks };
enum class Rest { Tokens, Raw };

struct VerbInfo {
    const char* name;
    Verb verb;
    Targets targets;
    Rest rest;
    int minArgs;
    int maxArgs;
};

// clang-format off
constexpr std::array Verbs{
    VerbInfo{"start",             Verb::Start,            Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"finish",            Verb::Finish,           Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"stop",              Verb::Stop,             Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"pay",               Verb::Pay,              Targets::Kiosks, Rest::Tokens, 0, 3},
    VerbInfo{"end",               Verb::End,              Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"drop",              Verb::Drop,             Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"silent",            Verb::Silent,           Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"talk",              Verb::Talk,             Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"offline",           Verb::Offline,          Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"online",            Verb::Online,           Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"send",              Verb::Send,             Targets::Kiosks, Rest::Raw,    0, 0},
    VerbInfo{"write",             Verb::Write,            Targets::Kiosks, Rest::Raw,    0, 0},
    VerbInfo{"flood",             Verb::Flood,            Targets::Kiosks, Rest::Tokens, 1, 2},
    VerbInfo{"version",           Verb::Version,          Targets::Kiosks, Rest::Raw,    0, 0},
    VerbInfo{"status",            Verb::Status,           Targets::Kiosks, Rest::Tokens, 0, 0},
    VerbInfo{"sleep",             Verb::Sleep,            Targets::None,   Rest::Tokens, 1, 1},
    VerbInfo{"wait-connected",    Verb::WaitConnected,    Targets::Kiosks, Rest::Tokens, 0, 1},
    VerbInfo{"wait-disconnected", Verb::WaitDisconnected, Targets::Kiosks, Rest::Tokens, 0, 1},
    VerbInfo{"wait-recv",         Verb::WaitRecv,         Targets::Kiosks, Rest::Tokens, 1, 2},
    VerbInfo{"echo",              Verb::Echo,             Targets::None,   Rest::Raw,    0, 0},
    VerbInfo{"help",              Verb::Help,             Targets::None,   Rest::Tokens, 0, 0},
    VerbInfo{"quit",              Verb::Quit,             Targets::None,   Rest::Tokens, 0, 0},
};
// clang-format on

// Splits at blanks; "..." keeps blanks inside one token (file names).
bool tokenize(QStringView text, QStringList* tokens, QString* error) {
    tokens->clear();
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (i >= text.size())
            break;
        QString token;
        if (text[i] == u'"') {
            const qsizetype end = text.indexOf(u'"', i + 1);
            if (end < 0) {
                *error = QStringLiteral("a quote is not closed");
                return false;
            }
            token = text.sliced(i + 1, end - i - 1).toString();
            i = end + 1;
        } else {
            const qsizetype start = i;
            while (i < text.size() && !text[i].isSpace())
                ++i;
            token = text.sliced(start, i - start).toString();
        }
        tokens->append(token);
    }
    return true;
}

bool parseCount(const QString& text, qint64* value) {
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= 0;
}

// "4096", "64k", "16M": a byte count for flood, at most 1 GiB.
bool parseSize(QString text, qint64* value) {
    qint64 unit = 1;
    if (text.endsWith(u'k', Qt::CaseInsensitive))
        unit = 1024;
    else if (text.endsWith(u'm', Qt::CaseInsensitive))
        unit = 1024 * 1024;
    if (unit != 1)
        text.chop(1);
    qint64 n = 0;
    if (!parseCount(text, &n) || n > (qint64(1) << 30) / unit)
        return false;
    *value = n * unit;
    return true;
}

} // namespace

ParseResult parseCommand(const QString& line, int kioskCount, const QString& baseDir,
                         Command* command, QString* error) {
    *command = Command{};
    command->source = line.trimmed();
    command->baseDir = baseDir;
    if (command->source.isEmpty() || command->source.startsWith(u'#'))
        return ParseResult::Empty;
    // Only the leading blanks go: the text of send and write keeps its trailing ones.
    QStringView rest = line;
    while (rest.front().isSpace())
        rest = rest.sliced(1);

    const auto takeWord = [&rest]() {
        qsizetype end = 0;
        while (end < rest.size() && !rest[end].isSpace())
            ++end;
        const QString word = rest.first(end).toString();
        rest = rest.sliced(end);
        while (!rest.isEmpty() && rest.front().isSpace())
            rest = rest.sliced(1);
        return word;
    };

    QString word = takeWord();
    bool targeted = false;
    command->first = 1;
    command->last = kioskCount;
    static const QRegularExpression range(QStringLiteral("^(\\d+)(?:-(\\d+))?$"));
    if (const auto m = range.match(word); m.hasMatch()) {
        command->first = m.captured(1).toInt();
        command->last = m.captured(2).isEmpty() ? command->first : m.captured(2).toInt();
        if (command->first < 1 || command->last > kioskCount || command->first > command->last) {
            *error = QStringLiteral("no kiosk %1 (kiosks are numbered 1 to %2)")
                         .arg(word)
                         .arg(kioskCount);
            return ParseResult::Error;
        }
        targeted = true;
        word = takeWord();
    } else if (word == QLatin1String("all") || word == QLatin1String("*")) {
        targeted = true;
        word = takeWord();
    }

    const VerbInfo* info = nullptr;
    for (const VerbInfo& v : Verbs) {
        if (word == QLatin1String(v.name))
            info = &v;
    }
    if (!info) {
        *error = word.isEmpty() ? QStringLiteral("a command is missing after the kiosk number")
                                : QStringLiteral("unknown command \"%1\" (try help)").arg(word);
        return ParseResult::Error;
    }
    command->verb = info->verb;
    if (targeted && info->targets == Targets::None) {
        *error = QStringLiteral("%1 takes no kiosk number").arg(word);
        return ParseResult::Error;
    }

    if (info->rest == Rest::Raw) {
        // Blanks at the end of a raw text are part of it (a test may send "PAY_BLOCK ").
        command->text = rest.toString();
        if (info->verb == Verb::Send || info->verb == Verb::Write) {
            if (!decodeBackslashes(rest, &command->bytes, error))
                return ParseResult::Error;
        }
        return ParseResult::Command;
    }

    if (!tokenize(rest, &command->args, error))
        return ParseResult::Error;
    const auto argCount = command->args.size();
    if (argCount < info->minArgs || argCount > info->maxArgs) {
        *error = QStringLiteral("wrong number of arguments for %1 (try help)").arg(word);
        return ParseResult::Error;
    }

    switch (info->verb) {
    case Verb::Sleep:
        if (!parseCount(command->args[0], &command->number)) {
            *error = QStringLiteral("sleep needs milliseconds");
            return ParseResult::Error;
        }
        break;
    case Verb::WaitConnected:
    case Verb::WaitDisconnected:
    case Verb::WaitRecv: {
        const qsizetype timeoutIndex = info->verb == Verb::WaitRecv ? 1 : 0;
        if (info->verb == Verb::WaitRecv)
            command->words = command->args[0].toUtf8().split('|');
        if (argCount > timeoutIndex && !parseCount(command->args[timeoutIndex], &command->number)) {
            *error = QStringLiteral("the time-out of %1 is in milliseconds").arg(word);
            return ParseResult::Error;
        }
        break;
    }
    case Verb::Flood: {
        if (!parseSize(command->args[0], &command->number)) {
            *error = QStringLiteral("flood needs a size in bytes (k and M allowed, at most 1024M)");
            return ParseResult::Error;
        }
        QByteArray pattern = "x";
        if (argCount > 1 && (!decodeBackslashes(command->args[1], &pattern, error)))
            return ParseResult::Error;
        if (pattern.isEmpty()) {
            *error = QStringLiteral("the fill of flood is empty");
            return ParseResult::Error;
        }
        command->bytes = pattern;
        break;
    }
    default:
        break;
    }
    return ParseResult::Command;
}

QString commandHelp() {
    return QStringLiteral(
        "Commands (standard input and --script; one per line, # starts a comment):\n"
        "  [KIOSKS] COMMAND [ARGS]   KIOSKS is N, N-M, all or *; kiosks are numbered\n"
        "                            from 1; without it a command applies to ALL kiosks.\n"
        "  start                     customer starts ordering: state SESSION_START, sent\n"
        "  finish                    ordering finished: state ORDERING_FINISH, sent\n"
        "  stop                      back to idle: state SESSION_STOP, sent\n"
        "  pay [SUM [ORDER [INVOICE]]]\n"
        "                            sends ORDER_SUM=SUM, INVOICE=, ORDER_XML= (escaped)\n"
        "                            and PAY_BLOCK; without files, or with -, the shipped\n"
        "                            sample order and invoice; SUM defaults to the\n"
        "                            sample's 730.00 and is sent as written\n"
        "  end                       sends PAY_END\n"
        "  drop                      closes the connection (the kiosk keeps listening)\n"
        "  offline / online          stops listening (connections are refused) / resumes\n"
        "  silent / talk             stops answering the console (the lines still show,\n"
        "                            commands still send) / answers again\n"
        "  send TEXT                 sends TEXT and CR LF; \\r \\n \\t \\0 \\\\ \\xHH\n"
        "  write TEXT                sends TEXT without a line end (same escapes)\n"
        "  flood SIZE [FILL]         sends SIZE bytes (k, M allowed) of FILL (default x)\n"
        "                            without a line end\n"
        "  version TEXT              the text answered to GET_VERSION from now on\n"
        "  status                    prints port, connection, state and version\n"
        "  wait-connected [MS]       waits until every kiosk named has a connection\n"
        "  wait-disconnected [MS]    waits until none of them has one\n"
        "  wait-recv WORD[|WORD...] [MS]\n"
        "                            waits until each of them receives the line WORD\n"
        "                            (or one of the WORDs); lines received before the\n"
        "                            wait do not count\n"
        "  sleep MS                  pauses this command source\n"
        "  echo TEXT                 prints TEXT (a mark for tests and demos)\n"
        "  help                      prints this list\n"
        "  quit                      closes the connections and ends the simulator\n"
        "A wait that times out prints \"timeout: \" and the command, then goes on.\n"
        "The script and standard input run side by side, each command after the one\n"
        "before it in the same source. The end of standard input does not end the\n"
        "simulator: quit or a signal does.\n");
}

} // namespace kiosksim
