// The one way the program shows a message box. Tests install a responder that answers instead of
// a person, so no dialog is shown under test.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Button sets and icons (combined with |), as the message texts of the program expect them.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};
// Answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct MsgBoxRequest {
    QWidget* owner;
    QString text;
    QString caption;
    unsigned type;
};

// Shows text with the buttons and icon of nType; the caption is the application title "Quilla"
// unless one is given. Returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO); closing the box
// without a button counts as Cancel, or as No where there is no Cancel, or as OK for a lone OK.
int QuillaMessageBox(QWidget* owner, const QString& text, unsigned nType = MB_OK,
                     const QString& caption = QString());

// Installs a responder that answers every message box instead of showing it (pass an empty
// function to show them again). Returns the one that was installed before.
using MsgBoxResponder = std::function<int(const MsgBoxRequest&)>;
MsgBoxResponder SetMessageBoxResponder(MsgBoxResponder responder);
