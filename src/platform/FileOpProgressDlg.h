// The progress window of a copy or a move: the file in work, a bar, and a stop button. The shell
// file operation shows it when the work lasts longer than a moment.
#pragma once

#include <QDialog>
#include <functional>

class CFileTransfer;
class QLabel;
class QProgressBar;
class QPushButton;

class CFileOpProgressDlg : public QDialog {
    Q_OBJECT
public:
    CFileOpProgressDlg(CFileTransfer& transfer, QWidget* parent = nullptr);

    // Brings the window up to date with the transfer.
    void UpdateFromTransfer();
    // What the window shows: the file in work and the part done (0 to 100).
    QString CurrentText() const;
    int Percent() const;
    QPushButton* StopButton() const { return m_stop; }

    // How long a copy or move runs before the window appears, in milliseconds.
    static int s_nDelayMs;
    // Tests: called once the window is shown (press the stop button, look at the window).
    static std::function<void(CFileOpProgressDlg&)> s_onShow;

protected:
    // Escape and the window's close box stop the work as the button does.
    void reject() override;

private:
    void OnStop();

    CFileTransfer& m_transfer;
    QLabel* m_action;
    QLabel* m_file;
    QProgressBar* m_bar;
    QPushButton* m_stop;
};
