#include "convert/DataExchange.h"

#include "platform/MsgBox.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <climits>

namespace Ddx {

namespace {

// Shows the refusal and puts the caret back into the field; the dialog stays open.
bool Refuse(QLineEdit* edit, const QString& message) {
    QuillaMessageBox(edit->window(), message, MB_OK | MB_ICONEXCLAMATION);
    edit->setFocus();
    edit->selectAll();
    return false;
}

} // namespace

bool Int(bool save, QLineEdit* edit, int& value) {
    if (!save) {
        edit->setText(QString::number(value));
        return true;
    }
    // Blanks around the number are allowed; anything else, or a number beyond int, is not.
    bool ok = false;
    const qlonglong v = edit->text().trimmed().toLongLong(&ok, 10);
    if (!ok || v < INT_MIN || v > INT_MAX)
        return Refuse(edit, QStringLiteral("整数を入力してください。"));
    value = int(v);
    return true;
}

bool Unsigned(bool save, QLineEdit* edit, unsigned& value) {
    if (!save) {
        edit->setText(QString::number(value));
        return true;
    }
    const QString text = edit->text().trimmed();
    bool ok = !text.startsWith(QLatin1Char('-')) && !text.startsWith(QLatin1Char('+'));
    const qulonglong v = ok ? text.toULongLong(&ok, 10) : 0;
    if (!ok || v > 0xFFFFFFFFull)
        return Refuse(edit, QStringLiteral("正の整数を入力してください。"));
    value = unsigned(v);
    return true;
}

void Text(bool save, QLineEdit* edit, QString& value) {
    if (save)
        value = edit->text();
    else
        edit->setText(value);
}

void ListIndex(bool save, QComboBox* list, int& value) {
    if (save)
        value = list->currentIndex();
    else
        list->setCurrentIndex(value >= 0 && value < list->count() ? value : -1);
}

void Check(bool save, QAbstractButton* box, int& value) {
    if (save)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

} // namespace Ddx
