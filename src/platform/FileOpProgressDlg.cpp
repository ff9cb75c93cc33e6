#include "platform/FileOpProgressDlg.h"

#include "platform/FileTransfer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

int CFileOpProgressDlg::s_nDelayMs = 500;
std::function<void(CFileOpProgressDlg&)> CFileOpProgressDlg::s_onShow;

namespace {
constexpr int kBarSteps = 1000;
constexpr int kFileLabelWidth = 360;
} // namespace

CFileOpProgressDlg::CFileOpProgressDlg(CFileTransfer& transfer, QWidget* parent)
    : QDialog(parent), m_transfer(transfer) {
    const bool move = transfer.GetMode() == CFileTransfer::Mode::Move;
    setWindowTitle(move ? QStringLiteral("移動中") : QStringLiteral("コピー中"));
    m_action = new QLabel(move ? QStringLiteral("ファイルを移動しています...")
                               : QStringLiteral("ファイルをコピーしています..."));
    m_file = new QLabel;
    m_file->setMinimumWidth(kFileLabelWidth);
    m_file->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar;
    m_bar->setRange(0, kBarSteps);
    m_bar->setValue(0);
    m_stop = new QPushButton(QStringLiteral("中止"));
    connect(m_stop, &QPushButton::clicked, this, &CFileOpProgressDlg::OnStop);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_action);
    layout->addWidget(m_file);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
}

void CFileOpProgressDlg::UpdateFromTransfer() {
    const CFileTransfer::Progress p = m_transfer.CurrentProgress();
    // Long names are cut in the middle, so the start and the extension stay readable.
    m_file->setText(m_file->fontMetrics().elidedText(p.current, Qt::ElideMiddle, m_file->width()));
    m_file->setToolTip(p.current);
    m_file->setProperty("fullText", p.current);
    if (p.bytesTotal > 0)
        m_bar->setValue(int(std::min<int64_t>(kBarSteps, p.bytesDone * kBarSteps / p.bytesTotal)));
}

QString CFileOpProgressDlg::CurrentText() const {
    return m_file->property("fullText").toString();
}

int CFileOpProgressDlg::Percent() const {
    return m_bar->value() * 100 / kBarSteps;
}

void CFileOpProgressDlg::OnStop() {
    m_transfer.Stop();
    m_stop->setEnabled(false);
    m_action->setText(QStringLiteral("中止しています..."));
}

void CFileOpProgressDlg::reject() {
    OnStop();
}
