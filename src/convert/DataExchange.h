// Moving values between a dialog's members and its controls, with the standard refusals of text
// that is not a number. Each Exchange function takes the value from the control when save is set
// (returning false, after the message, when the text is refused) and puts it into the control
// otherwise.
#pragma once

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QString;

namespace Ddx {

// A signed integer: refused with "整数を入力してください。".
bool Int(bool save, QLineEdit* edit, int& value);
// An unsigned integer: refused with "正の整数を入力してください。".
bool Unsigned(bool save, QLineEdit* edit, unsigned& value);
// A line of text.
void Text(bool save, QLineEdit* edit, QString& value);
// A drop-down list's selected index; -1 when nothing is selected.
void ListIndex(bool save, QComboBox* list, int& value);
// A check box's state: 1 ticked, 0 not.
void Check(bool save, QAbstractButton* box, int& value);

} // namespace Ddx
