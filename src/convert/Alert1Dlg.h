// A caution with a do-not-show-again box: a message, a detail line (a file's path) and a caption,
// each shown only when not empty.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;

class CAlert1Dlg : public QDialog {
    Q_OBJECT
public:
    explicit CAlert1Dlg(QWidget* parent = nullptr);
    ~CAlert1Dlg() override;

    int exec() override;
    void accept() override;

    QString m_strMessage; // static 1052
    QString m_strDetail;  // static 1056
    QString m_strCaption; // replaces "注意" when not empty
    int m_bDontShow = 0;  // check box 127 "今後はこの警告を表示しない(&V)"

    QCheckBox* DontShowBox() const { return m_check; }

    // Tests answer the dialog instead of a person: called once the dialog is filled in, it returns
    // QDialog::Accepted or Rejected (and may tick the box and call accept()).
    static std::function<int(CAlert1Dlg&)> s_answer;

private:
    void OnInitDialog();

    QLabel* m_message;
    QLabel* m_detail;
    QCheckBox* m_check;
};
