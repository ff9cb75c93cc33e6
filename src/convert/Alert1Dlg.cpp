#include "convert/Alert1Dlg.h"

#include "convert/DataExchange.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

std::function<int(CAlert1Dlg&)> CAlert1Dlg::s_answer;

CAlert1Dlg::CAlert1Dlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("注意"));
    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(360);
    m_detail = new QLabel;
    m_detail->setWordWrap(true);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_check = new QCheckBox(QStringLiteral("今後はこの警告を表示しない(&V)"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_detail);
    layout->addSpacing(6);
    layout->addWidget(m_check);
    layout->addWidget(buttons);
}

CAlert1Dlg::~CAlert1Dlg() = default;

void CAlert1Dlg::OnInitDialog() {
    Ddx::Check(false, m_check, m_bDontShow);
    if (!m_strMessage.isEmpty())
        m_message->setText(m_strMessage);
    if (!m_strDetail.isEmpty())
        m_detail->setText(m_strDetail);
    if (!m_strCaption.isEmpty())
        setWindowTitle(m_strCaption);
    // Centred over the owner.
    adjustSize();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->frameGeometry().center() - rect().center());
}

int CAlert1Dlg::exec() {
    OnInitDialog();
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}

void CAlert1Dlg::accept() {
    Ddx::Check(true, m_check, m_bDontShow);
    QDialog::accept();
}
