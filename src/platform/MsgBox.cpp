#include "platform/MsgBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MsgBoxResponder& Responder() {
    static MsgBoxResponder r;
    return r;
}
} // namespace

MsgBoxResponder SetMessageBoxResponder(MsgBoxResponder responder) {
    MsgBoxResponder old = std::move(Responder());
    Responder() = std::move(responder);
    return old;
}

int QuillaMessageBox(QWidget* owner, const QString& text, unsigned nType, const QString& caption) {
    const QString title = caption.isEmpty() ? QStringLiteral("Quilla") : caption;
    if (Responder())
        return Responder()(MsgBoxRequest{owner, text, title, nType});

    QMessageBox box(owner ? owner : QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (nType & 0xF0) {
    case MB_ICONSTOP:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    switch (nType & 0xF) {
    case MB_OKCANCEL:
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        break;
    case MB_YESNO:
        yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        break;
    default:
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        break;
    }
    box.exec();
    QAbstractButton* chosen = box.clickedButton();
    if (chosen && chosen == yes)
        return IDYES;
    if (chosen && chosen == no)
        return IDNO;
    if (chosen && chosen == ok)
        return IDOK;
    if (yes)
        return IDNO;
    return cancel ? IDCANCEL : IDOK;
}
