#include "tree/Dialogs.h"

#include "platform/Volumes.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

std::function<int(CInputDlg&)> CInputDlg::s_answer;
std::function<int(CRenameDlg&)> CRenameDlg::s_answer;
std::function<int(CDriveDlg&)> CDriveDlg::s_answer;
std::function<int(CFolderPicker&)> CFolderPicker::s_answer;

namespace {
QDialogButtonBox* OkCancel(QDialog* dlg) {
    auto* b = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    b->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(b, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    QObject::connect(b, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    return b;
}
} // namespace

CInputDlg::CInputDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Pictoquill"));
    m_prompt = new QLabel;
    m_text = new QLineEdit;
    m_text->setMinimumWidth(300);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_text);
    layout->addWidget(OkCancel(this));
}

int CInputDlg::exec() {
    if (s_answer)
        return s_answer(*this);
    m_prompt->setText(m_strPrompt);
    m_text->setText(m_strText);
    m_text->selectAll();
    const int r = QDialog::exec();
    if (r == Accepted)
        m_strText = m_text->text();
    return r;
}

CRenameDlg::CRenameDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("名前変更"));
    m_before = new QLabel;
    m_name = new QLineEdit;
    m_ext = new QLineEdit;
    m_name->setObjectName(QStringLiteral("name"));
    m_ext->setObjectName(QStringLiteral("ext"));
    m_ext->setMaximumWidth(80);
    auto* after = new QHBoxLayout;
    after->addWidget(m_name, 1);
    after->addWidget(m_ext);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("変更前："), m_before);
    form->addRow(QStringLiteral("変更後："), after);
    QDialogButtonBox* buttons = OkCancel(this);
    form->addRow(buttons);
    // No empty name: OK (and Enter) wait until one is typed.
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(m_name, &QLineEdit::textChanged, m_ok,
            [this](const QString& text) { m_ok->setEnabled(!text.isEmpty()); });
}

int CRenameDlg::exec() {
    if (s_answer)
        return s_answer(*this);
    m_before->setText(m_strBefore);
    m_name->setText(m_strName);
    m_ext->setText(m_strExt);
    m_ok->setEnabled(!m_strName.isEmpty());
    m_name->setFocus();
    m_name->selectAll();
    const int r = QDialog::exec();
    if (r == Accepted) {
        m_strName = m_name->text();
        m_strExt = m_ext->text();
    }
    return r;
}

CDriveDlg::CDriveDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ドライブの指定"));
    m_list = new QListWidget;
    auto* network = new QPushButton(QStringLiteral("ﾈｯﾄﾜｰｸ(&N)..."));
    connect(network, &QPushButton::clicked, this, &CDriveDlg::OnNetwork);
    auto* buttons = OkCancel(this);
    buttons->addButton(network, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int CDriveDlg::exec() {
    // The volumes, with the one holding the current directory selected.
    m_roots.clear();
    for (const Volumes::Volume& v : Volumes::List())
        m_roots << v.root;
    const QString current = Volumes::RootOf(QDir::currentPath());
    m_nSelected = int(m_roots.indexOf(current));
    if (s_answer)
        return s_answer(*this);
    m_list->clear();
    m_list->addItems(m_roots);
    m_list->setCurrentRow(m_nSelected);
    const int r = QDialog::exec();
    if (r == Accepted && m_nDrive != -1) {
        m_nSelected = m_list->currentRow();
        m_nDrive = m_nSelected >= 0 ? m_nSelected + 1 : 0;
    }
    return r;
}

void CDriveDlg::OnNetwork() {
    CFolderPicker picker;
    picker.m_strTitle = QStringLiteral("ネットワークドライブ選択");
    if (picker.Run(this) != 1 || picker.m_strPath.isEmpty())
        return; // the drive dialog stays open
    m_strNetwork = picker.m_strPath;
    m_nDrive = -1;
    QDialog::accept();
}

int CFolderPicker::Run(QWidget* owner) {
    QString start;
    if (m_bStartAtCurrentDir)
        start = QDir::currentPath();
    else if (!m_strPath.isEmpty())
        start = m_strPath;
    if (s_answer)
        return s_answer(*this);
    const QString title = m_strTitle.isEmpty() ? QStringLiteral("フォルダ選択") : m_strTitle;
    const QString chosen =
        QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return 2;
    m_strPath = chosen;
    return 1;
}
