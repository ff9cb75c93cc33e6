// The application's four profile functions: every setting of the program is read and written
// through these, in the user's settings store of organisation "Norvo", application "Quilla"
// (on this platform ~/.config/Norvo/Quilla.conf; a section is a group, a value a key).
#pragma once

#include <QString>
#include <utility>
#include <vector>

namespace Profile {

// A missing value, or one that is not a decimal integer, yields nDefault.
int GetInt(const QString& section, const QString& entry, int nDefault);
// A missing value yields strDefault.
QString GetString(const QString& section, const QString& entry, const QString& strDefault);
// Writes at once; failures are not reported.
void WriteInt(const QString& section, const QString& entry, int nValue);
void WriteString(const QString& section, const QString& entry, const QString& value);

// Writes several values of one section (name, text; integers as decimal text) in one step: the
// settings file is replaced whole, so that a crash or a kill leaves either all of them or none.
void WriteValues(const QString& section, const std::vector<std::pair<QString, QString>>& values);

// The file the settings live in (for messages and tests).
QString StorePath();

} // namespace Profile
