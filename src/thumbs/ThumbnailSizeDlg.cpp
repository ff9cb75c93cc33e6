#include "thumbs/ThumbnailSizeDlg.h"

#include "platform/MsgBox.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

bool ExchangeUnsigned(QLineEdit* edit, unsigned& value) {
    const QString text = edit->text().trimmed();
    bool ok =
        !text.isEmpty() && !text.startsWith(QLatin1Char('+')) && !text.startsWith(QLatin1Char('-'));
    const qulonglong v = ok ? text.toULongLong(&ok, 10) : 0;
    if (!ok || v > 0xFFFFFFFFull) {
        QuillaMessageBox(edit->window(), QStringLiteral("正の整数を入力してください。"),
                         MB_OK | MB_ICONEXCLAMATION);
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    value = unsigned(v);
    return true;
}

CThumbnailSizeDlg::CThumbnailSizeDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("サムネイルサイズ"));
    m_height = new QLineEdit;
    m_width = new QLineEdit;
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("高さ(&H)"), m_height);
    form->addRow(QStringLiteral("幅(&W)"), m_width);
    form->addRow(buttons);
}

void CThumbnailSizeDlg::showEvent(QShowEvent* event) {
    m_height->setText(QString::number(m_nHeight));
    m_width->setText(QString::number(m_nWidth));
    QDialog::showEvent(event);
}

void CThumbnailSizeDlg::accept() {
    unsigned h = 0, w = 0;
    if (!ExchangeUnsigned(m_height, h) || !ExchangeUnsigned(m_width, w))
        return; // the dialog stays open
    // Sizes beyond what a screen can show would overflow the grid's arithmetic.
    m_nHeight = std::min(h, 4096u);
    m_nWidth = std::min(w, 4096u);
    QDialog::accept();
}
