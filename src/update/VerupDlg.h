// The result of the version check when a newer release exists: its version, release date and
// message, with a button that opens the product's home page.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CVerupDlg : public QDialog {
    Q_OBJECT
public:
    // The controls, by the numbers of the dialog template.
    enum : int { IDC_DATE = 139, IDC_MESSAGE = 140, IDC_VERSION = 223 };

    explicit CVerupDlg(QWidget* parent = nullptr);

    // Shows the members in the fields and runs the dialog: QDialog::Accepted when the home-page
    // button ends it, QDialog::Rejected for "閉じる".
    int exec() override;

    // The fields, in the order they are exchanged with the controls.
    QString m_strDate;
    QString m_strMessage;
    QString m_strVersion;

    QLineEdit* DateField() const { return m_date; }
    QPlainTextEdit* MessageField() const { return m_message; }
    QLineEdit* VersionField() const { return m_version; }
    QPushButton* HomePageButton() const { return m_homePage; }
    QPushButton* CloseButton() const { return m_close; }

    // Tests: answers instead of a person, after the fields are filled.
    static std::function<int(CVerupDlg&)> s_answer;

private:
    void DoDataExchange();

    QLineEdit* m_date = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QLineEdit* m_version = nullptr;
    QPushButton* m_homePage = nullptr;
    QPushButton* m_close = nullptr;
};
