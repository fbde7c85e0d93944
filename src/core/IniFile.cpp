#include "core/IniFile.h"

#include "common/FormatSettings.h"
#include "platform/CodePages.h"
#include "platform/Error.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

QString unquote(QString value) {
    value = value.trimmed();
    if (value.size() >= 2 &&
        ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) ||
         (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\''))))) {
        value = value.mid(1, value.size() - 2);
    }
    return value;
}

// Profile readers trim values and strip one pair of quotes; quote a value that would
// otherwise lose its blanks or its own quotes on the way back.
QString quoteForWrite(QString value) {
    // A line break would end the value and start a line of its own.
    value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (value.isEmpty())
        return value;
    const bool blankEdge = value.front().isSpace() || value.back().isSpace();
    const bool quoted = value.size() >= 2 &&
                        ((value.front() == QLatin1Char('"') && value.back() == QLatin1Char('"')) ||
                         (value.front() == QLatin1Char('\'') && value.back() == QLatin1Char('\'')));
    if (blankEdge || quoted)
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

QString decodeFile(const QByteArray& raw) {
    QByteArrayView bytes(raw);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return orvanta::fromCp1251(bytes);
}

} // namespace

TIniFile::TIniFile(QString fileName)
    : m_fileName(std::move(fileName)) {
    load();
}

void TIniFile::load() {
    m_sections.clear();
    m_sections.push_back(Section{});
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return; // a missing file reads as empty: every key gives its default
    const QString text = decodeFile(file.readAll());
    m_crlf = text.contains(QLatin1String("\r\n"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString raw = lines.at(i);
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
        if (i == lines.size() - 1 && raw.isEmpty())
            break; // the final line break
        const QString trimmed = raw.trimmed();
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.contains(QLatin1Char(']'))) {
            Section section;
            section.name = trimmed.mid(1, trimmed.indexOf(QLatin1Char(']')) - 1).trimmed();
            section.lines.push_back(Line{raw, {}, {}});
            m_sections.push_back(std::move(section));
            continue;
        }
        Line line{raw, {}, {}};
        const qsizetype eq = raw.indexOf(QLatin1Char('='));
        if (eq > 0 && !trimmed.startsWith(QLatin1Char(';')) &&
            !trimmed.startsWith(QLatin1Char('#'))) {
            line.key = raw.left(eq).trimmed();
            line.value = unquote(raw.mid(eq + 1));
        }
        m_sections.back().lines.push_back(std::move(line));
    }
}

const TIniFile::Section* TIniFile::findSection(const QString& name) const {
    for (std::size_t i = 1; i < m_sections.size(); ++i)
        if (m_sections[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return &m_sections[i];
    return nullptr;
}

const TIniFile::Line* TIniFile::findKey(const QString& section, const QString& key) const {
    const Section* s = findSection(section);
    if (!s)
        return nullptr;
    for (const Line& line : s->lines)
        if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0)
            return &line;
    return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const Line* line = findKey(section, key);
    return (line ? line->value : def).left(kMaxValueLength);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const Line* line = findKey(section, key);
    if (!line)
        return def;
    int value = 0;
    return TryStrToInt(line->value.left(kMaxValueLength), value) ? value : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& rawValue) {
    // A line break cannot stand in a value; keep in memory what the saved file gives back,
    // so a read before and after UpdateFile sees the same value.
    QString value = rawValue;
    value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString text = quoteForWrite(value);
    auto* s = const_cast<Section*>(findSection(section));
    if (!s) {
        if (!m_sections.back().lines.empty() &&
            !m_sections.back().lines.back().text.trimmed().isEmpty())
            m_sections.back().lines.push_back(Line{QString(), {}, {}});
        Section fresh;
        fresh.name = section;
        fresh.lines.push_back(Line{QLatin1Char('[') + section + QLatin1Char(']'), {}, {}});
        m_sections.push_back(std::move(fresh));
        s = &m_sections.back();
    }
    for (Line& line : s->lines) {
        if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0) {
            if (line.value != value || line.text != line.key + QLatin1Char('=') + text) {
                line.value = value;
                line.text = line.key + QLatin1Char('=') + text;
                m_modified = true;
            }
            return;
        }
    }
    // New keys go after the last key of the section, ahead of trailing blank lines.
    auto at = s->lines.end();
    while (at != s->lines.begin() + 1 && (at - 1)->text.trimmed().isEmpty())
        --at;
    s->lines.insert(at, Line{key + QLatin1Char('=') + text, key, value});
    m_modified = true;
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniFile::SectionExists(const QString& section) const {
    return findSection(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return findKey(section, key) != nullptr;
}

QStringList TIniFile::Sections() const {
    QStringList names;
    for (std::size_t i = 1; i < m_sections.size(); ++i)
        names << m_sections[i].name;
    return names;
}

void TIniFile::UpdateFile() {
    if (!m_modified)
        return;
    const QString eol = m_crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    for (const Section& s : m_sections)
        for (const Line& line : s.lines)
            text += line.text + eol;
    const QByteArray bytes = text.toUtf8();

    QSaveFile file(m_fileName);
    auto fail = [&](const QString& reason) {
        file.cancelWriting();
        throw orvanta::Exception(QStringLiteral("Не удалось сохранить файл настроек \"%1\": %2")
                                     .arg(m_fileName, reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        fail(file.errorString());
    if (!file.commit())
        fail(file.errorString());
    m_modified = false;
}
