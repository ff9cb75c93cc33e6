// The version file's text: the product line, its fields, the release date, the two encodings.
#include "update/VersionFile.h"
#include "platform/FileNames.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

std::optional<QString> Find(const QString& text) {
    return VersionFile::FindProductLine(text, QStringLiteral("Quilla"));
}

std::optional<QDateTime> DateOf(const char* field) {
    return VersionFile::ParseDate(
        QStringLiteral("Quilla,1.0,%1,message").arg(QString::fromUtf8(field)));
}

QString Shown(const char* field) {
    const std::optional<QDateTime> d = DateOf(field);
    return d ? VersionFile::FormatDate(*d) : QStringLiteral("(rejected)");
}

} // namespace

TEST(VersionFileLine, FirstLineWithTheKeyAndAComma) {
    const QString text = QStringLiteral("Other,2.0,2010/1/1,x\n"
                                        "\n"
                                        "Quilla2,9.9,2030/1/1,wrong product\n"
                                        "XQuilla,9.9,2030/1/1,wrong product\n"
                                        "Quilla 1.0 without a comma\n"
                                        "Quilla,1.60,2007/10/01,this one\n"
                                        "Quilla,1.70,2008/10/01,a later duplicate\n");
    EXPECT_EQ(Find(text), QStringLiteral("Quilla,1.60,2007/10/01,this one"));
    EXPECT_EQ(Find(QStringLiteral("Quilla2,1,2007/1/1,x\nXQuilla,1,2007/1/1,x\n")), std::nullopt);
    EXPECT_EQ(Find(QString()), std::nullopt);
    EXPECT_EQ(Find(QStringLiteral("\n\n\n")), std::nullopt);
    // The key alone, with the comma, is a product line with empty fields.
    EXPECT_EQ(Find(QStringLiteral("Quilla,")), QStringLiteral("Quilla,"));
}

TEST(VersionFileLine, LastLineWithoutLineFeedAndCarriageReturnsAnywhere) {
    EXPECT_EQ(Find(QStringLiteral("A,1\nQuilla,1.60,2007/10/01,last")),
              QStringLiteral("Quilla,1.60,2007/10/01,last"));
    EXPECT_EQ(Find(QStringLiteral("Quilla,1.60,2007/10/01,crlf\r\nNext,1\r\n")),
              QStringLiteral("Quilla,1.60,2007/10/01,crlf"));
    // Carriage returns are ignored wherever they stand, the key included.
    EXPECT_EQ(Find(QStringLiteral("\rQui\rlla\r,1.6\r0,2007/10/01\r")),
              QStringLiteral("Quilla,1.60,2007/10/01"));
    // A lone carriage return does not end a line.
    EXPECT_EQ(Find(QStringLiteral("Other,1\rQuilla,2,2007/1/1,x")), std::nullopt);
}

TEST(VersionFileLine, Fields) {
    const QString line = QStringLiteral("Quilla,1.60,2007/10/01,message text");
    EXPECT_EQ(VersionFile::FieldOf(line, 0), QStringLiteral("Quilla"));
    EXPECT_EQ(VersionFile::FieldOf(line, 1), QStringLiteral("1.60"));
    EXPECT_EQ(VersionFile::FieldOf(line, 2), QStringLiteral("2007/10/01"));
    EXPECT_EQ(VersionFile::FieldOf(line, 3), QStringLiteral("message text"));
    // A message with a comma is cut there; text after a fourth comma is not used.
    EXPECT_EQ(VersionFile::FieldOf(QStringLiteral("Quilla,1,2007/1/1,first, second,third"), 3),
              QStringLiteral("first"));
    // Fewer commas than the field's number: an empty field.
    EXPECT_EQ(VersionFile::FieldOf(QStringLiteral("Quilla,1.60"), 2), QString());
    EXPECT_EQ(VersionFile::FieldOf(QStringLiteral("Quilla,1.60"), 3), QString());
    EXPECT_EQ(VersionFile::FieldOf(QStringLiteral("Quilla,,,"), 1), QString());
    EXPECT_EQ(VersionFile::FieldOf(QStringLiteral("Quilla,1.60,"), 2), QString());
}

TEST(VersionFileDate, RangeOfYearsMonthsAndDays) {
    EXPECT_EQ(Shown("2000/12/31"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2037/01/01"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2001/01/01"), QStringLiteral("2001/01/01"));
    EXPECT_EQ(Shown("2036/12/31"), QStringLiteral("2036/12/31"));
    EXPECT_EQ(Shown("2007/0/5"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2007/13/5"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2007/12/0"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2007/12/32"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2007/4/-5"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("99999999999999/1/1"), QStringLiteral("(rejected)"));
}

TEST(VersionFileDate, NumbersAsACLibraryReadsThem) {
    EXPECT_EQ(Shown("2007/4/5"), QStringLiteral("2007/04/05"));
    EXPECT_EQ(Shown("2007/10/01"), QStringLiteral("2007/10/01"));
    EXPECT_EQ(Shown(" 2007/ 4/\t5"), QStringLiteral("2007/04/05"));
    EXPECT_EQ(Shown("+2007/+4/+5"), QStringLiteral("2007/04/05"));
    EXPECT_EQ(Shown("2007x/4 april/5th"), QStringLiteral("2007/04/05"));
    EXPECT_EQ(Shown("002007/004/005"), QStringLiteral("2007/04/05"));
    // The first and the last slash delimit the month; what lies between is read from its start.
    EXPECT_EQ(Shown("2007/1/2/3"), QStringLiteral("2007/01/03"));
    // Not two different slashes, or no digits where a number belongs.
    EXPECT_EQ(Shown("2007/10"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("20071001"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown(""), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("2007//5"), QStringLiteral("(rejected)"));
    EXPECT_EQ(Shown("/4/5"), QStringLiteral("(rejected)"));
    EXPECT_EQ(VersionFile::ParseDate(QStringLiteral("Quilla,1.0")), std::nullopt);
}

TEST(VersionFileDate, DaysBeyondTheMonthCarryOver) {
    EXPECT_EQ(Shown("2007/2/31"), QStringLiteral("2007/03/03"));
    EXPECT_EQ(Shown("2008/2/30"), QStringLiteral("2008/03/01"));
    EXPECT_EQ(Shown("2007/4/31"), QStringLiteral("2007/05/01"));
    EXPECT_EQ(Shown("2036/12/31"), QStringLiteral("2036/12/31"));
}

TEST(VersionFileDate, MidnightLocalTime) {
    const std::optional<QDateTime> d = DateOf("2007/10/01");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->timeSpec(), Qt::LocalTime);
    EXPECT_EQ(d->date(), QDate(2007, 10, 1));
    EXPECT_EQ(d->time(), QTime(0, 0));
    // The same moment as midnight in the system's own time zone.
    EXPECT_EQ(d->toMSecsSinceEpoch(),
              QDateTime(QDate(2007, 10, 1), QTime(0, 0), QTimeZone::systemTimeZone())
                  .toMSecsSinceEpoch());
}

TEST(VersionFileText, Utf8AndCodePage932) {
    const QString line = QStringLiteral("Quilla,1.60,2007/10/01,新しい版です（ﾃｽﾄ）");
    const QByteArray utf8 = ("Other,1\r\n" + line + "\r\n").toUtf8();
    EXPECT_EQ(Find(VersionFile::Decode(utf8)), line);

    const std::optional<QByteArray> sjis =
        FileNames::Cp932::Encode(QStringLiteral("Other,1\r\n") + line + QStringLiteral("\r\n"));
    ASSERT_TRUE(sjis);
    ASSERT_NE(*sjis, utf8); // really another encoding
    EXPECT_EQ(Find(VersionFile::Decode(*sjis)), line);

    // A byte-order mark before the first line does not hide the key.
    EXPECT_EQ(Find(VersionFile::Decode("\xEF\xBB\xBF" + line.toUtf8())), line);
    // Carriage returns are gone from the text.
    EXPECT_FALSE(VersionFile::Decode("a\r\nb\rc").contains(QLatin1Char('\r')));
}
