#include "app/SetDlg.h"

#include "imaging/SusieHost.h"
#include "platform/HelpRequest.h"
#include "platform/MsgBox.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "res/resource.h"
#include "tree/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

std::function<int(CSetDlg&)> CSetDlg::s_answer;
std::function<QString(CSetDlg&)> CSetDlg::s_browseStart;

namespace {
// The control identifier a widget stands for (help requests and tests find controls by it).
template <class W> W* Tagged(W* w, int id) {
    w->setProperty("quillaCtrlId", id);
    w->setObjectName(QStringLiteral("ctl%1").arg(id));
    return w;
}
} // namespace

CSetDlg::CSetDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定"));
    m_dblClk = Tagged(new QComboBox, IDC_DBLCLK);
    m_dblClk->addItems({QStringLiteral("内蔵ビューア"), QStringLiteral("関連づけられたソフト")});
    m_initMode = Tagged(new QComboBox, IDC_INITMODE);
    m_initMode->addItems({QStringLiteral("起動フォルダ"), QStringLiteral("指定したフォルダ"),
                          QStringLiteral("ドライブ指定"), QStringLiteral("ルート")});
    m_editFolder = Tagged(new QLineEdit, IDC_INITDIR);
    m_btnFolder = Tagged(new QPushButton(QStringLiteral("参照(&R)...")), IDC_INITDIRBROWSE);
    m_usePlugin =
        Tagged(new QCheckBox(QStringLiteral("Susieプラグインを使用する(&S)")), IDC_USEPLUGIN);
    m_editPlugin = Tagged(new QLineEdit, IDC_PLUGINDIR);
    m_pluginBrowse = Tagged(new QPushButton(QStringLiteral("参照(&B)...")), IDC_PLUGINBROWSE);
    m_help = Tagged(new QPushButton(QStringLiteral("ヘルプ(&H)")), IDC_SETHELP);
    m_editFolder->setMinimumWidth(260);

    auto label = [](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text);
        l->setBuddy(buddy);
        return l;
    };
    auto* grid = new QGridLayout;
    grid->addWidget(label(QStringLiteral("画像ダブルクリック時(&D):"), m_dblClk), 0, 0);
    grid->addWidget(m_dblClk, 0, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("起動時のフォルダ(&F):"), m_initMode), 1, 0);
    grid->addWidget(m_initMode, 1, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("フォルダ名(&N):"), m_editFolder), 2, 0);
    grid->addWidget(m_editFolder, 2, 1);
    grid->addWidget(m_btnFolder, 2, 2);

    auto* plugins = new QGroupBox;
    auto* pgrid = new QGridLayout(plugins);
    pgrid->addWidget(m_usePlugin, 0, 0, 1, 3);
    pgrid->addWidget(label(QStringLiteral("プラグインフォルダ(&F):"), m_editPlugin), 1, 0);
    pgrid->addWidget(m_editPlugin, 1, 1);
    pgrid->addWidget(m_pluginBrowse, 1, 2);
    // What became of each plug-in: in use, set aside after failing, or refused when checked.
    m_pluginList = new QListWidget;
    m_pluginList->setSelectionMode(QAbstractItemView::NoSelection);
    m_pluginList->setFocusPolicy(Qt::NoFocus);
    m_pluginList->setMaximumHeight(80);
    m_pluginList->addItems(SusieHost::Describe());
    pgrid->addWidget(m_pluginList, 2, 0, 1, 3);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    buttons->addButton(m_help, QDialogButtonBox::HelpRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(plugins);
    layout->addWidget(buttons);

    connect(m_btnFolder, &QPushButton::clicked, this, &CSetDlg::OnBrowseInitDir);
    connect(m_help, &QPushButton::clicked, this, &CSetDlg::OnHelp);
    connect(m_initMode, &QComboBox::activated, this, &CSetDlg::OnSelChangeInitMode);
    connect(m_pluginBrowse, &QPushButton::clicked, this, &CSetDlg::OnBrowsePlugin);
    connect(m_usePlugin, &QCheckBox::clicked, this, &CSetDlg::OnUsePlugin);
}

void CSetDlg::UpdateData(bool save) {
    if (save) {
        m_nDblClk = m_dblClk->currentIndex();
        m_nInitMode = m_initMode->currentIndex();
        m_strInitDir = m_editFolder->text();
        m_strPlugin = m_editPlugin->text();
        m_bUsePlugin = m_usePlugin->isChecked() ? 1 : 0;
    } else {
        m_dblClk->setCurrentIndex(m_nDblClk);
        m_initMode->setCurrentIndex(m_nInitMode);
        m_editFolder->setText(m_strInitDir);
        m_editPlugin->setText(m_strPlugin);
        m_usePlugin->setChecked(m_bUsePlugin == 1);
    }
}

void CSetDlg::OnInitDialog() {
    UpdateData(false);
    // Centred over the owner window.
    adjustSize();
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    ApplyInitDirRule();
    m_editPlugin->setEnabled(m_bUsePlugin == 1);
    m_pluginBrowse->setEnabled(true);
}

void CSetDlg::ApplyInitDirRule() {
    const bool own = m_nInitMode == kInitModeFolder;
    m_editFolder->setEnabled(own);
    m_btnFolder->setEnabled(own);
}

int CSetDlg::exec() {
    OnInitDialog();
    if (s_answer) {
        const int r = s_answer(*this);
        if (r == Accepted)
            UpdateData(true);
        return r;
    }
    return QDialog::exec();
}

void CSetDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}

void CSetDlg::OnSelChangeInitMode() {
    UpdateData(true);
    ApplyInitDirRule();
    UpdateData(false);
}

void CSetDlg::OnUsePlugin() {
    UpdateData(true);
    m_editPlugin->setEnabled(m_bUsePlugin == 1);
}

void CSetDlg::OnBrowseInitDir() {
    UpdateData(true);
    QString chosen;
    if (s_browseStart) {
        chosen = s_browseStart(*this);
    } else {
        // The system's folder browser, listing files as well as folders; only a folder of the
        // file system can be chosen.
        QFileDialog dlg(this, QStringLiteral("出力先ディレクトリを指定してください"));
        dlg.setFileMode(QFileDialog::Directory);
        dlg.setOption(QFileDialog::ShowDirsOnly, false);
        dlg.setSupportedSchemes({QStringLiteral("file")});
        if (!m_strInitDir.isEmpty())
            dlg.setDirectory(m_strInitDir);
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedUrls().isEmpty()) {
            const QUrl url = dlg.selectedUrls().first();
            chosen = url.isLocalFile() ? url.toLocalFile() : url.toString();
        }
    }
    if (!chosen.isEmpty()) {
        // A network folder mounted into the file system is a folder like any other; only a
        // share that no mount maps is refused.
        if (!Volumes::IsMountedPath(chosen))
            QuillaMessageBox(this, QStringLiteral("ネットワークを選択することはできません。"
                                                  "ドライブ割り当てして選択してください"));
        else
            m_strInitDir = chosen;
    }
    UpdateData(false);
}

void CSetDlg::OnBrowsePlugin() {
    UpdateData(true);
    CFolderPicker picker;
    picker.m_strPath = m_strPlugin;
    picker.m_strTitle = QStringLiteral("プラグインフォルダ");
    if (picker.Run(this) == 1)
        m_strPlugin = picker.m_strPath;
    UpdateData(false);
}

void CSetDlg::OnHelp() {
    HelpRequest::Show(kHelpContext, HELP_CONTEXT);
}

void RunSettingsDialog(QWidget* owner) {
    CSetDlg dlg(owner);
    dlg.m_nInitMode = Settings::Get(Settings::InitMode);
    dlg.m_strInitDir = Settings::Get(Settings::InitDir);
    dlg.m_nDblClk = Settings::Get(Settings::DblClkMode);
    dlg.m_bUsePlugin = Settings::Get(Settings::UseSusiePlugin);
    dlg.m_strPlugin = Settings::Get(Settings::SusiePlugin);
    if (dlg.exec() != QDialog::Accepted)
        return;
    Settings::Write(Settings::InitMode, dlg.m_nInitMode);
    Settings::Write(Settings::InitDir, dlg.m_strInitDir);
    Settings::Write(Settings::DblClkMode, dlg.m_nDblClk);
    // Switching the plug-ins on loads them at once; switching them off, or another folder while
    // they stay on, takes effect at the next start.
    const int before = Settings::Get(Settings::UseSusiePlugin);
    if (before != dlg.m_bUsePlugin && dlg.m_bUsePlugin == 1)
        SusieHost::LoadFolderInBackground(dlg.m_strPlugin);
    Settings::Write(Settings::UseSusiePlugin, dlg.m_bUsePlugin);
    Settings::Write(Settings::SusiePlugin, dlg.m_strPlugin);
}
