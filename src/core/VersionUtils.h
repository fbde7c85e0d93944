#pragma once

#include <QString>

// A four-part program version as a kiosk reports it. All four parts are -1 while no
// version is known (the zero version).
class TVersion {
public:
    int Major = -1;
    int Minor = -1;
    int Version = -1;
    int Build = -1;

    TVersion() = default;
    explicit TVersion(const QString& text) { ParseStr(text); }

    void Zero();
    bool IsZero() const;
    bool Equal(const TVersion& v) const;
    bool NewerThan(const TVersion& v) const; // strictly greater, field by field
    bool ParseStr(const QString& s);         // true when any field got a value

    QString VersionStr() const;
    void SetVersionStr(const QString& s) { ParseStr(s); }
};
