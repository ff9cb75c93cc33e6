// The application's four profile functions: every setting of the program is read and written
// through these, in the user's settings store of organisation "Norvo", application "Quilla"
// (on this platform ~/.config/Norvo/Quilla.conf; a section is a group, a value a key).
#pragma once

#include <QString>

namespace Profile {

// A missing value, or one that is not a decimal integer, yields nDefault.
int GetInt(const QString& section, const QString& entry, int nDefault);
// A missing value yields strDefault.
QString GetString(const QString& section, const QString& entry, const QString& strDefault);
// Writes at once; failures are not reported.
void WriteInt(const QString& section, const QString& entry, int nValue);
void WriteString(const QString& section, const QString& entry, const QString& value);

// The file the settings live in (for messages and tests).
QString StorePath();

} // namespace Profile
