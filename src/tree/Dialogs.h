// The small dialogs the folder and file commands share: one line of input, a file rename, the
// drive selection, and the folder picker. Each can be answered by a test instead of a person.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// "Pictoquill": a prompt and one line of text.
class CInputDlg : public QDialog {
    Q_OBJECT
public:
    explicit CInputDlg(QWidget* parent = nullptr);
    int exec() override;
    QString m_strPrompt;
    QString m_strText;
    static std::function<int(CInputDlg&)> s_answer; // tests: returns QDialog::Accepted or Rejected

private:
    QLabel* m_prompt;
    QLineEdit* m_text;
};

// "名前変更": the old name, the new name and its extension. OK waits for a name to be typed.
class CRenameDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRenameDlg(QWidget* parent = nullptr);
    int exec() override;
    QString m_strBefore;
    QString m_strName;
    QString m_strExt;
    static std::function<int(CRenameDlg&)> s_answer;

private:
    QLabel* m_before;
    QLineEdit* m_name;
    QLineEdit* m_ext;
    QPushButton* m_ok;
};

// "ドライブの指定": the volumes, the current one preselected, and a network folder.
class CDriveDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDriveDlg(QWidget* parent = nullptr);
    int exec() override;
    int m_nDrive = 0;     // 1 for the first volume of the list, ...; -1 for a network folder
    QString m_strNetwork; // the network folder chosen
    QStringList m_roots;  // the volumes listed
    int m_nSelected = -1; // the list's selection
    static std::function<int(CDriveDlg&)> s_answer;

private:
    void OnNetwork();
    QListWidget* m_list;
};

// The folder picker: shows a folder first and returns the chosen one.
class CFolderPicker {
public:
    QString m_strPath;  // shown first when set; the chosen folder on return
    QString m_strTitle; // "" stands for "フォルダ選択"
    bool m_bStartAtCurrentDir = false;
    // 1 when a folder was chosen, 2 otherwise.
    int Run(QWidget* owner = nullptr);
    static std::function<int(CFolderPicker&)> s_answer;
};
