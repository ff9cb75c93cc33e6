// The progress window of a batch conversion: a message, the file in work, a progress bar and
// "中止". It is modeless; the button only asks for the batch to stop before its next file, and
// closing the window (Esc, the close box) ends the batch the same way.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

class CStatusDlg : public QDialog {
    Q_OBJECT
public:
    CStatusDlg();
    ~CStatusDlg() override;

    // Shows the window, centred over the owner (which does not own it).
    bool Create(QWidget* owner);

    // Moves the texts into the controls and refreshes them at once.
    void UpdateData();

    QProgressBar* m_progress; // control 1057
    QString m_strMessage;     // static 1052
    QString m_strFile;        // static 1056
    bool m_bCancel = false;   // "中止" was pressed
    bool m_bClosed = false;   // the window's own cancel action closed it

    QPushButton* CancelButton() const { return m_cancel; }
    // True once the batch should end: "中止" or the window closed.
    bool StopRequested() const { return m_bCancel || m_bClosed; }

protected:
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowFile();

    QLabel* m_message;
    QLabel* m_file;
    QPushButton* m_cancel;
};
