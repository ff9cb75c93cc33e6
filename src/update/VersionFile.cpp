#include "update/VersionFile.h"

#include "platform/FileNames.h"

#include <QStringDecoder>
#include <limits>

namespace VersionFile {

namespace {

constexpr int kFirstYear = 2001;
constexpr int kLastYear = 2036;
constexpr int kMonths = 12;
constexpr int kLongestMonth = 31;

bool IsBlank(QChar c) {
    // The white space a C library skips before a number.
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// The decimal number at the start of the text: leading blanks and one sign allowed, reading stops
// at the first other character, no digits give 0. Values beyond an int are held at its limits.
int LeadingNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    constexpr long long kCap = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min(kCap, value * 10 + (text[i].unicode() - u'0'));
    if (negative)
        return int(std::max(-value, static_cast<long long>(std::numeric_limits<int>::min())));
    return int(std::min(value, static_cast<long long>(std::numeric_limits<int>::max())));
}

} // namespace

QString Decode(const QByteArray& body) {
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(body);
    if (utf8.hasError())
        text = FileNames::Cp932::Decode(body);
    text.remove(QLatin1Char('\r'));
    return text;
}

std::optional<QString> FindProductLine(const QString& text, const QString& key) {
    const QString prefix = key + QLatin1Char(',');
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        QString line = text.mid(start, end - start);
        line.remove(QLatin1Char('\r'));
        if (line.startsWith(prefix))
            return line;
        start = end + 1;
    }
    return std::nullopt;
}

QString FieldOf(const QString& line, int n) {
    qsizetype from = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype comma = line.indexOf(QLatin1Char(','), from);
        if (comma < 0)
            return QString();
        from = comma + 1;
    }
    const qsizetype next = line.indexOf(QLatin1Char(','), from);
    return next < 0 ? line.mid(from) : line.mid(from, next - from);
}

std::optional<QDateTime> ParseDate(const QString& line) {
    const QString field = FieldOf(line, DateField);
    const qsizetype first = field.indexOf(QLatin1Char('/'));
    const qsizetype last = field.lastIndexOf(QLatin1Char('/'));
    if (first < 0 || last < 0 || first == last)
        return std::nullopt;
    const QStringView view(field);
    const int year = LeadingNumber(view.left(first));
    const int month = LeadingNumber(view.mid(first + 1, last - first - 1));
    const int day = LeadingNumber(view.mid(last + 1));
    if (year < kFirstYear || year > kLastYear || month < 1 || month > kMonths || day < 1 ||
        day > kLongestMonth)
        return std::nullopt;
    // The 31st of a shorter month is a day or three into the next one.
    const QDate date = QDate(year, month, 1).addDays(day - 1);
    return QDateTime(date, QTime(0, 0), Qt::LocalTime);
}

QString FormatDate(const QDateTime& midnight) {
    const QDate d = midnight.date();
    return QString::asprintf("%04d/%02d/%02d", d.year(), d.month(), d.day());
}

} // namespace VersionFile
