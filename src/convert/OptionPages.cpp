#include "convert/OptionPages.h"

#include "convert/ColorBtn.h"
#include "convert/Convert.h"
#include "convert/DataExchange.h"
#include "platform/HelpRequest.h"
#include "platform/Settings.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The help topic of the option pages.
constexpr unsigned long kHelpContext = 16;

// The colour row and the two check boxes that the GIF and PNG pages share.
void BuildColourPage(QWidget* page, CColorBtn*& button, QCheckBox*& back, QCheckBox*& inter) {
    auto* label = new QLabel(QStringLiteral("背景色(透過色)："));
    button = new CColorBtn;
    button->setFixedSize(60, 24);
    label->setBuddy(button);
    back = new QCheckBox(QStringLiteral("透過形式で保存(&T)"));
    inter = new QCheckBox(QStringLiteral("インターレース形式で保存(&I)"));
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(button);
    row->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addSpacing(6);
    layout->addWidget(back);
    layout->addWidget(inter);
    layout->addStretch(1);
}

} // namespace

CPropertyPage::CPropertyPage(const QString& title) : m_strTitle(title) {}

void CPropertyPage::OnHelp() {
    HelpRequest::Show(kHelpContext, HELP_CONTEXT);
}

CGifSetPage::CGifSetPage() : CPropertyPage(QStringLiteral("GIF形式")) {
    BuildColourPage(this, m_btnColor, m_back, m_inter);
    m_btnColor->m_color = 0xFFFFFF;
}

bool CGifSetPage::DoDataExchange(bool save) {
    Ddx::Check(save, m_back, m_bBack);
    Ddx::Check(save, m_inter, m_bInter);
    return true;
}

CPngSetPage::CPngSetPage() : CPropertyPage(QStringLiteral("PNG形式")) {
    BuildColourPage(this, m_btnColor, m_back, m_inter);
    m_btnColor->m_color = 0xFFFFFF;
}

bool CPngSetPage::DoDataExchange(bool save) {
    Ddx::Check(save, m_inter, m_bInter);
    Ddx::Check(save, m_back, m_bBack);
    return true;
}

CJpegSetDlg::CJpegSetDlg() : CPropertyPage(QStringLiteral("JPEG形式")) {
    m_inter = new QCheckBox(QStringLiteral("プログレッシブ形式で保存(&P)"));
    m_subSamp = new QComboBox;
    m_subSamp->addItems(
        {QStringLiteral("4:1:1"), QStringLiteral("4:2:2"), QStringLiteral("4:4:4")});
    m_quality = new QLineEdit;
    m_quality->setMaximumWidth(60);
    auto* subLabel = new QLabel(QStringLiteral("サブサンプリング(&S):"));
    subLabel->setBuddy(m_subSamp);
    auto* qualityLabel = new QLabel(QStringLiteral("圧縮品質係数(&Q):"));
    qualityLabel->setBuddy(m_quality);
    auto* grid = new QGridLayout;
    grid->addWidget(subLabel, 0, 0);
    grid->addWidget(m_subSamp, 0, 1);
    grid->addWidget(qualityLabel, 1, 0);
    grid->addWidget(m_quality, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("(0～100)")), 1, 2);
    grid->setColumnStretch(3, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_inter);
    layout->addSpacing(6);
    layout->addLayout(grid);
    layout->addStretch(1);
}

bool CJpegSetDlg::DoDataExchange(bool save) {
    Ddx::Check(save, m_inter, m_bInter);
    Ddx::ListIndex(save, m_subSamp, m_nSubSamp);
    // No range check: values above 100 are kept as they are.
    return Ddx::Unsigned(save, m_quality, m_nQuality);
}

CTiffSetPage::CTiffSetPage() : CPropertyPage(QStringLiteral("TIFF形式")) {
    m_type = new QComboBox;
    m_type->addItems({QStringLiteral("非圧縮"), QStringLiteral("CCITTRLE"),
                      QStringLiteral("GROUP3-1D"), QStringLiteral("GROUP3-2D"),
                      QStringLiteral("GROUP4"), QStringLiteral("PACKBITS"), QStringLiteral("LZW")});
    auto* label = new QLabel(QStringLiteral("圧縮方法(&A):"));
    label->setBuddy(m_type);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_type);
    row->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch(1);
}

bool CTiffSetPage::DoDataExchange(bool save) {
    Ddx::ListIndex(save, m_type, m_nType);
    return true;
}

std::function<int(CPropertySheet&)> CPropertySheet::s_answer;

CPropertySheet::CPropertySheet(const QString& caption, QWidget* parent) : QDialog(parent) {
    setWindowTitle(caption);
    m_tabs = new QTabWidget;
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    buttons->button(QDialogButtonBox::Help)->setText(QStringLiteral("ヘルプ"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CPropertySheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        if (m_pPage)
            m_pPage->OnHelp();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    m_pPage = page;
    m_tabs->addTab(page, page->Title());
}

int CPropertySheet::exec() {
    if (m_pPage)
        m_pPage->DoDataExchange(false);
    adjustSize();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->frameGeometry().center() - rect().center());
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}

void CPropertySheet::accept() {
    if (m_pPage && !m_pPage->DoDataExchange(true))
        return;
    QDialog::accept();
}

void CPropertySheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && m_pPage) {
        m_pPage->OnHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}

namespace {

// A page that belongs to the sheet without being shown in it.
template <class Page> Page* HiddenPage(CPropertySheet& sheet) {
    auto* page = new Page;
    page->setParent(&sheet);
    page->hide();
    return page;
}

} // namespace

bool RunFormatOptionSheet(QWidget* owner, int format) {
    CPropertySheet sheet(QStringLiteral("画像形式の設定"), owner);
    // All four pages exist, owned by the sheet; only the format's own is shown. The others keep
    // the values they loaded.
    auto* gif = HiddenPage<CGifSetPage>(sheet);
    auto* tiff = HiddenPage<CTiffSetPage>(sheet);
    auto* jpeg = HiddenPage<CJpegSetDlg>(sheet);
    auto* png = HiddenPage<CPngSetPage>(sheet);
    gif->m_bBack = Settings::Get(Settings::GifBack);
    gif->m_bInter = Settings::Get(Settings::GifInter);
    gif->m_btnColor->m_color = unsigned(Settings::Get(Settings::GifBackColorSheet));
    tiff->m_nType = Settings::Get(Settings::TiffType);
    jpeg->m_bInter = Settings::Get(Settings::JpegInter);
    jpeg->m_nQuality = unsigned(Settings::Get(Settings::JpegQuality));
    jpeg->m_nSubSamp = Settings::Get(Settings::JpegSubSamp);
    png->m_bBack = Settings::Get(Settings::PngBack);
    png->m_bInter = Settings::Get(Settings::PngInter);
    png->m_btnColor->m_color = unsigned(Settings::Get(Settings::PngBackColorSheet));

    switch (format) {
    case Convert::Gif:
        sheet.AddPage(gif);
        break;
    case Convert::Jpeg:
        sheet.AddPage(jpeg);
        break;
    case Convert::Tiff:
        sheet.AddPage(tiff);
        break;
    case Convert::Png:
        sheet.AddPage(png);
        break;
    default:
        break;
    }
    if (sheet.exec() != QDialog::Accepted)
        return false;
    // All ten, in this order; the colours are read back from their buttons.
    Settings::Write(Settings::GifBack, gif->m_bBack);
    Settings::Write(Settings::GifInter, gif->m_bInter);
    Settings::Write(Settings::GifBackColorSheet, int(gif->m_btnColor->m_color));
    Settings::Write(Settings::TiffType, tiff->m_nType);
    Settings::Write(Settings::JpegInter, jpeg->m_bInter);
    Settings::Write(Settings::JpegQuality, int(jpeg->m_nQuality));
    Settings::Write(Settings::JpegSubSamp, jpeg->m_nSubSamp);
    Settings::Write(Settings::PngBack, png->m_bBack);
    Settings::Write(Settings::PngInter, png->m_bInter);
    Settings::Write(Settings::PngBackColorSheet, int(png->m_btnColor->m_color));
    return true;
}
