#pragma once

#include "text/HostError.h"

#include <QSettings>
#include <QString>
#include <cmath>

namespace kestrove {

// Reads "observatory.ini" key by key ("section/key"); a key that is absent keeps its default, and a
// value that cannot be taken is an error naming the file, the key and the value.
class IniReader
{
public:
    IniReader(const QString& path, const QString& call)
        : m_path(path), m_call(call), m_ini(path, QSettings::IniFormat)
    {
    }

    // The value's text; false when the file lacks the key.
    bool text(const char* key, QString& out);
    // A finite number within [low, high].
    void number(const char* key, double& out, double low, double high);
    // A whole number within [low, high].
    template <typename Int> void integer(const char* key, Int& out, double low, double high)
    {
        double v = static_cast<double>(out);
        number(key, v, low, high);
        if (v != std::floor(v)) {
            QString t;
            text(key, t);
            throw bad(key, t, QStringLiteral("is not a whole number"));
        }
        out = static_cast<Int>(v);
    }
    // true, 1, yes or false, 0, no.
    void boolean(const char* key, bool& out);
    // The value as the file holds it, for values that may hold ";" (a comment start for QSettings).
    bool raw(const QString& section, const QString& key, QString& out);
    HostError bad(const char* key, const QString& value, const QString& why) const;
    QSettings::Status status() const { return m_ini.status(); }

private:
    QString m_path;
    QString m_call;
    QSettings m_ini;
};

} // namespace kestrove
