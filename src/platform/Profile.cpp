#include "platform/Profile.h"

#include <QSettings>

namespace {

QString Key(const QString& section, const QString& entry) {
    return section + QLatin1Char('/') + entry;
}

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Norvo"),
                     QStringLiteral("Quilla"));
}

} // namespace

namespace Profile {

int GetInt(const QString& section, const QString& entry, int nDefault) {
    const QVariant v = Store().value(Key(section, entry));
    if (!v.isValid())
        return nDefault;
    // Integers are stored as decimal text; anything else stands for a value of another type.
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok, 10);
    return ok ? n : nDefault;
}

QString GetString(const QString& section, const QString& entry, const QString& strDefault) {
    const QVariant v = Store().value(Key(section, entry));
    if (!v.isValid())
        return strDefault;
    // A list (a value with commas in a hand-edited file) is read back as the text it was.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void WriteInt(const QString& section, const QString& entry, int nValue) {
    QSettings s = Store();
    s.setValue(Key(section, entry), QString::number(nValue));
}

void WriteString(const QString& section, const QString& entry, const QString& value) {
    QSettings s = Store();
    s.setValue(Key(section, entry), value);
}

void WriteValues(const QString& section, const std::vector<std::pair<QString, QString>>& values) {
    QSettings s = Store();
    for (const auto& [entry, text] : values)
        s.setValue(Key(section, entry), text);
    // Written when the store goes: the file is replaced in one step (QSettings writes a copy and
    // renames it over the old file).
}

QString StorePath() {
    return Store().fileName();
}

} // namespace Profile
