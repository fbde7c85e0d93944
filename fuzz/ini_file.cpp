// Ini files as they reach the console: edited by hand, brought from Windows in code page
// 1251, cut short by a full disk. Reading must give values or defaults; writing a key and
// saving must keep every other value and give the written one back.
//
// Input: the last byte n says that the n % 32 bytes before it are the value to write
// (UTF-8) and the next-to-last byte which key; everything before is the file.

#include "FuzzSupport.h"

#include "core/IniFile.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

const QString& tempFolder() {
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid(), dir.errorString());
    static const QString path = dir.path();
    return path;
}

void writeBytes(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), file.errorString());
    FUZZ_CHECK(file.write(bytes) == bytes.size(), file.errorString());
}

// The keys a line of the file names, as a loose reader would see them: what stands left
// of the first "=" of a line.
QStringList candidateKeys(const QByteArray& bytes) {
    QStringList keys;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QString key = QString::fromUtf8(line.left(eq)).trimmed();
        if (!key.isEmpty() && !keys.contains(key))
            keys << key;
        if (keys.size() >= 16)
            break;
    }
    return keys;
}

QString expectedReadBack(QString value) {
    value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value.left(TIniFile::kMaxValueLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const auto* chars = reinterpret_cast<const char*>(data);
    const std::size_t valueLength = std::min<std::size_t>(data[size - 1] % 32, size - 2);
    const std::uint8_t keyChoice = data[size - 2];
    const std::size_t fileLength = size - 2 - valueLength;
    const QByteArray contents(chars, static_cast<qsizetype>(fileLength));
    const QString value =
        QString::fromUtf8(chars + fileLength, static_cast<qsizetype>(valueLength));

    const QString original = tempFolder() + QStringLiteral("/original.ini");
    const QString edited = tempFolder() + QStringLiteral("/edited.ini");
    writeBytes(original, contents);
    writeBytes(edited, contents);

    const TIniFile before(original);
    const QStringList sections = before.Sections().mid(0, 16);
    const QStringList keys = candidateKeys(contents);
    for (const QString& section : sections) {
        FUZZ_CHECK(before.SectionExists(section), section);
        for (const QString& key : keys) {
            const QString read = before.ReadString(section, key, QStringLiteral("\x01"));
            FUZZ_CHECK(read.size() <= TIniFile::kMaxValueLength, key);
            if (!before.ValueExists(section, key))
                FUZZ_CHECK(read == QStringLiteral("\x01"), key);
            before.ReadInteger(section, key, -1);
            before.ReadBool(section, key, true);
        }
    }

    // A key of the console's own in one of the file's sections or in a new one.
    static const QString ownKeys[] = {QStringLiteral("Code1"), QStringLiteral("PrinterType"),
                                      QStringLiteral("Count"), QStringLiteral("Name")};
    const QString key = (keyChoice & 0x80) && !keys.isEmpty()
                            ? keys.at((keyChoice >> 2) % keys.size())
                            : ownKeys[keyChoice % 4];
    const QString section =
        !sections.isEmpty() && (keyChoice & 0x40)
            ? sections.at((keyChoice >> 3) % sections.size())
            : (keyChoice & 0x20 ? QStringLiteral("DeviceList") : QStringLiteral("Printing"));
    // Names of the file's own that a line could not hold are not the console's to write.
    if (section.contains(QLatin1Char(']')) || key.contains(QLatin1Char('=')) ||
        key.startsWith(QLatin1Char('[')) || key.startsWith(QLatin1Char(';')) ||
        key.startsWith(QLatin1Char('#')) || key != key.trimmed() || section != section.trimmed())
        return 0;

    {
        TIniFile ini(edited);
        ini.WriteString(section, key, value);
        FUZZ_CHECK(ini.ReadString(section, key, QString()) == expectedReadBack(value), value);
        try {
            ini.UpdateFile();
        } catch (const orvanta::Exception& e) {
            FUZZ_CHECK(false, e.message());
        }
    }

    const TIniFile after(edited);
    FUZZ_CHECK(after.ReadString(section, key, QStringLiteral("\x01")) == expectedReadBack(value),
               QStringLiteral("[%1] %2=%3").arg(section, key, value));
    for (const QString& s : sections) {
        for (const QString& k : keys) {
            if (s.compare(section, Qt::CaseInsensitive) == 0 &&
                k.compare(key, Qt::CaseInsensitive) == 0)
                continue;
            FUZZ_CHECK(after.ReadString(s, k, QStringLiteral("\x01")) ==
                           before.ReadString(s, k, QStringLiteral("\x01")),
                       QStringLiteral("[%1] %2 after writing [%3] %4").arg(s, k, section, key));
        }
    }
    return 0;
}
