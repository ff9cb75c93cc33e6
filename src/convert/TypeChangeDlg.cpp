#include "convert/TypeChangeDlg.h"

#include "convert/Convert.h"
#include "convert/DataExchange.h"
#include "convert/OptionPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

std::function<int(CTypeChangeDlg&)> CTypeChangeDlg::s_answer;
std::function<bool(QString&)> CTypeChangeDlg::s_browse;

CTypeChangeDlg::CTypeChangeDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("変換"));
    m_format = new QComboBox;
    for (int i = 0; i < Convert::kFormatCount; ++i)
        m_format->addItem(QString::fromLatin1(Convert::FormatListText(i)));
    m_btnDetail = new QPushButton(QStringLiteral("画像形式詳細(&F)..."));
    m_btnDetail->setAutoDefault(false);
    m_color = new QComboBox;
    for (int i = 0; i < Convert::kColourCount; ++i)
        m_color->addItem(Convert::ColourListText(i));
    m_folder = new QLineEdit;
    m_folder->setMinimumWidth(320);
    m_browse = new QPushButton(QStringLiteral("参照(&R)..."));
    m_browse->setAutoDefault(false);
    m_resize = new QCheckBox(QStringLiteral("サイズ変更する(&Z)"));
    m_width = new QLineEdit;
    m_height = new QLineEdit;
    m_width->setMaximumWidth(80);
    m_height->setMaximumWidth(80);

    auto* formatLabel = new QLabel(QStringLiteral("形式(&K):"));
    formatLabel->setBuddy(m_format);
    auto* colorLabel = new QLabel(QStringLiteral("色数(&C):"));
    colorLabel->setBuddy(m_color);
    auto* folderLabel = new QLabel(QStringLiteral("出力フォルダ(&O)"));
    folderLabel->setBuddy(m_folder);
    auto* widthLabel = new QLabel(QStringLiteral("幅(&W):"));
    widthLabel->setBuddy(m_width);
    auto* heightLabel = new QLabel(QStringLiteral("高さ(&H):"));
    heightLabel->setBuddy(m_height);

    auto* kind = new QGridLayout;
    kind->addWidget(formatLabel, 0, 0);
    kind->addWidget(m_format, 0, 1);
    kind->addWidget(m_btnDetail, 0, 2);
    kind->addWidget(colorLabel, 1, 0);
    kind->addWidget(m_color, 1, 1);
    kind->setColumnStretch(3, 1);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);

    auto* sizeBox = new QGroupBox;
    auto* sizeRow = new QHBoxLayout(sizeBox);
    sizeRow->addWidget(m_resize);
    sizeRow->addSpacing(12);
    sizeRow->addWidget(widthLabel);
    sizeRow->addWidget(m_width);
    sizeRow->addSpacing(8);
    sizeRow->addWidget(heightLabel);
    sizeRow->addWidget(m_height);
    sizeRow->addStretch(1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CTypeChangeDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(kind);
    layout->addSpacing(4);
    layout->addWidget(folderLabel);
    layout->addLayout(folderRow);
    layout->addWidget(sizeBox);
    layout->addWidget(buttons);

    connect(m_format, &QComboBox::activated, this, &CTypeChangeDlg::OnFormatChanged);
    connect(m_browse, &QPushButton::clicked, this, &CTypeChangeDlg::OnBrowse);
    connect(m_btnDetail, &QPushButton::clicked, this, &CTypeChangeDlg::OnDetail);
}

CTypeChangeDlg::~CTypeChangeDlg() = default;

bool CTypeChangeDlg::UpdateData(bool save) {
    // The exchange stops at the first field that refuses its text; the fields before it are taken.
    Ddx::ListIndex(save, m_format, m_nFormat);
    Ddx::Text(save, m_folder, m_strFolder);
    Ddx::ListIndex(save, m_color, m_nColor);
    Ddx::Check(save, m_resize, m_bResize);
    return Ddx::Int(save, m_height, m_nHeight) && Ddx::Int(save, m_width, m_nWidth);
}

void CTypeChangeDlg::EnableDetail() {
    m_btnDetail->setEnabled(m_nFormat != Convert::Bmp && m_nFormat != Convert::Pcx);
}

void CTypeChangeDlg::OnInitDialog() {
    UpdateData(false);
    adjustSize();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->frameGeometry().center() - rect().center());
    EnableDetail();
}

int CTypeChangeDlg::exec() {
    OnInitDialog();
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}

void CTypeChangeDlg::accept() {
    // Only the width and height can be refused; the dialog then stays open.
    if (UpdateData(true))
        QDialog::accept();
}

void CTypeChangeDlg::OnFormatChanged() {
    UpdateData(true);
    EnableDetail();
    UpdateData(false);
}

void CTypeChangeDlg::OnBrowse() {
    UpdateData(true);
    QString chosen;
    bool ok;
    if (s_browse) {
        ok = s_browse(chosen);
    } else {
        chosen = QFileDialog::getExistingDirectory(this,
                                                   QStringLiteral("ディレクトリを指定してください"),
                                                   QString(), QFileDialog::ShowDirsOnly);
        ok = !chosen.isEmpty();
    }
    if (ok)
        m_strFolder = chosen;
    UpdateData(false);
}

void CTypeChangeDlg::OnDetail() {
    UpdateData(true);
    if (RunFormatOptionSheet(this, m_nFormat))
        UpdateData(false);
}
