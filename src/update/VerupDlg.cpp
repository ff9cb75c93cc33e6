#include "update/VerupDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

std::function<int(CVerupDlg&)> CVerupDlg::s_answer;

namespace {

constexpr int kShortFieldWidth = 120;
constexpr int kMessageLines = 5;

QLineEdit* NewReadOnlyLine(QWidget* parent, int id) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::number(id));
    e->setReadOnly(true);
    e->setAlignment(Qt::AlignRight);
    e->setMaximumWidth(kShortFieldWidth);
    return e;
}

QLabel* NewLabel(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

} // namespace

CVerupDlg::CVerupDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョンアップしています"));

    m_version = NewReadOnlyLine(this, IDC_VERSION);
    m_date = NewReadOnlyLine(this, IDC_DATE);
    m_message = new QPlainTextEdit(this);
    m_message->setObjectName(QString::number(IDC_MESSAGE));
    m_message->setReadOnly(true);
    m_message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_message->setMinimumHeight(m_message->fontMetrics().lineSpacing() * kMessageLines);

    auto* grid = new QGridLayout;
    grid->addWidget(NewLabel(QStringLiteral("最新版バージョン(&V):"), m_version), 0, 0);
    grid->addWidget(m_version, 0, 1, Qt::AlignLeft);
    grid->addWidget(NewLabel(QStringLiteral("更新日付(&D):"), m_date), 1, 0);
    grid->addWidget(m_date, 1, 1, Qt::AlignLeft);
    grid->addWidget(NewLabel(QStringLiteral("メッセージ(&M):"), m_message), 2, 0, Qt::AlignTop);
    grid->addWidget(m_message, 2, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_homePage = buttons->addButton(QStringLiteral("ホームページを開いて最新版をダウンロードする"),
                                    QDialogButtonBox::AcceptRole);
    m_close = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    m_homePage->setDefault(true);
    m_homePage->setAutoDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void CVerupDlg::DoDataExchange() {
    m_date->setText(m_strDate);
    m_message->setPlainText(m_strMessage);
    m_version->setText(m_strVersion);
}

int CVerupDlg::exec() {
    // QDialog places a dialog with an owner centred over it when it is first shown.
    DoDataExchange();
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}
