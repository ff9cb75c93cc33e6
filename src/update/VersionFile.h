// The maker's version file: plain text with one line per product. This product's line is
//   Quilla,<version>,<year>/<month>/<day>,<message>
// Lines end with a line feed; carriage returns are ignored wherever they stand.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace VersionFile {

// The key that begins this product's line (followed by ",").
inline constexpr const char* kProductKey = "Quilla";

// Field numbers of the product line.
enum Field : int { KeyField = 0, VersionField = 1, DateField = 2, MessageField = 3 };

// The text of a fetched file: UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark is
// dropped), else code page 932. Carriage returns are removed.
QString Decode(const QByteArray& body);

// The first line that begins with the key immediately followed by ",", without its carriage
// returns; nothing when there is none. The last line needs no line feed.
std::optional<QString> FindProductLine(const QString& text, const QString& key);

// Field n of the line: for n ≥ 1 the text after the n-th comma up to the next comma or the end
// (empty when the line has fewer than n commas); field 0 is the text before the first comma.
QString FieldOf(const QString& line, int n);

// The release date of field 2 as the local time of midnight at the start of that day; nothing
// when the field has no two different slashes or the date lies outside 2001 to 2036, months 1 to
// 12, days 1 to 31. A day beyond the end of its month carries over into the next month.
std::optional<QDateTime> ParseDate(const QString& line);

// The date as the result dialog shows it ("2007/04/05").
QString FormatDate(const QDateTime& midnight);

} // namespace VersionFile
