#include "convert/StatusDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

CStatusDlg::CStatusDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Pictoquill"));
    setModal(false);
    m_message = new QLabel;
    m_file = new QLabel;
    m_file->setMinimumWidth(380);
    m_progress = new QProgressBar;
    m_progress->setTextVisible(false);
    m_cancel = new QPushButton(QStringLiteral("中止"));
    m_cancel->setAutoDefault(false);
    // The button only asks; the batch looks at the flag before its next file.
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_bCancel = true; });
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_file);
    layout->addWidget(m_progress);
    layout->addLayout(bottom);
}

CStatusDlg::~CStatusDlg() = default;

bool CStatusDlg::Create(QWidget* owner) {
    UpdateData();
    adjustSize();
    if (QWidget* w = owner ? owner->window() : nullptr) {
        move(w->frameGeometry().center() - rect().center());
        // Owned by the owner's window as a modeless dialog is: the window manager keeps it above
        // that window, also after a message box of the batch was answered. Only the window
        // manager is told; the object stays the batch's.
        winId();
        if (QWindow* handle = windowHandle())
            handle->setTransientParent(w->windowHandle());
    }
    show();
    return true;
}

void CStatusDlg::UpdateData() {
    m_message->setText(m_strMessage);
    ShowFile();
    m_message->repaint();
    m_file->repaint();
    m_progress->repaint();
}

void CStatusDlg::ShowFile() {
    // A long path is shortened in its middle to fit; the whole path is the tool tip.
    m_file->setText(m_file->fontMetrics().elidedText(m_strFile, Qt::ElideMiddle,
                                                     std::max(40, m_file->width())));
    m_file->setToolTip(m_strFile);
}

void CStatusDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowFile();
}

void CStatusDlg::reject() {
    // Esc or the close box: the window goes, and the batch ends as with "中止".
    m_bClosed = true;
    hide();
}
