#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// One ini file with the rules of the console's configuration: section and key names
// without regard to case, a missing key gives the caller's default, values cut to
// 2047 characters, unknown sections, keys and comments kept as they were. Read as
// UTF-8, or as code page 1251 when the file is not valid UTF-8 (files brought from
// Windows); written as UTF-8.
//
// Writes collect in memory; UpdateFile puts them on disk through a temporary file
// and a rename, so the previous file stays intact when anything fails.
class TIniFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return m_fileName; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList Sections() const;

    // Saves when anything was written. Throws orvanta::Exception naming the file and
    // the reason on failure; the old file is then unchanged.
    void UpdateFile();

private:
    struct Line {
        QString text;  // the line as it stands in the file
        QString key;   // empty for comments, blank lines and section headers
        QString value; // for key lines
    };
    struct Section {
        QString name; // empty for lines before the first header
        std::vector<Line> lines;
    };

    const Section* findSection(const QString& name) const;
    const Line* findKey(const QString& section, const QString& key) const;
    void load();

    QString m_fileName;
    std::vector<Section> m_sections;
    bool m_modified = false;
    bool m_crlf = false;
};
