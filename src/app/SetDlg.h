// "設定": what a double click on a thumbnail does, the folder shown at start, and whether and
// from which folder the import plug-ins are loaded.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class CSetDlg : public QDialog {
    Q_OBJECT
public:
    // Control identifiers.
    enum : int {
        IDD = 140,
        IDC_INITDIR = 149,
        IDC_USEPLUGIN = 169,
        IDC_PLUGINBROWSE = 170,
        IDC_PLUGINDIR = 171,
        IDC_DBLCLK = 1006,
        IDC_INITMODE = 1008,
        IDC_INITDIRBROWSE = 1010,
        IDC_SETHELP = 1011,
    };
    // The start-folder entry that names a folder of its own ("指定したフォルダ").
    static constexpr int kInitModeFolder = 1;
    // The help topic of the dialog.
    static constexpr unsigned long kHelpContext = 18;

    explicit CSetDlg(QWidget* parent = nullptr);

    // Fields, exchanged with the controls.
    QLineEdit* m_editPlugin = nullptr; // 171
    QListWidget* m_pluginList = nullptr;
    QPushButton* m_btnFolder = nullptr; // 1010
    QLineEdit* m_editFolder = nullptr;  // 149
    int m_nDblClk = -1;                 // list 1006
    int m_nInitMode = -1;               // list 1008
    QString m_strInitDir;               // 149
    QString m_strPlugin;                // 171
    int m_bUsePlugin = 0;               // check box 169

    // Shows the dialog: the controls take the fields, and on OK the fields take the controls.
    int exec() override;
    // Moves the values between the fields and the controls (to the fields when save is set).
    void UpdateData(bool save);

    QComboBox* DblClkList() const { return m_dblClk; }
    QComboBox* InitModeList() const { return m_initMode; }
    QCheckBox* UsePluginBox() const { return m_usePlugin; }
    // The plug-ins in use and those set aside or refused, each with why (read only).
    QListWidget* PluginList() const { return m_pluginList; }
    QPushButton* PluginBrowseButton() const { return m_pluginBrowse; }
    QPushButton* HelpButton() const { return m_help; }

    // Tests: answers the dialog after it has been set up (returns Accepted or Rejected), and
    // answers the system folder browser of the start folder ("" for cancel).
    static std::function<int(CSetDlg&)> s_answer;
    static std::function<QString(CSetDlg&)> s_browseStart;

    void accept() override;

private:
    void OnInitDialog();
    void ApplyInitDirRule();
    void OnSelChangeInitMode();
    void OnUsePlugin();
    void OnBrowseInitDir();
    void OnBrowsePlugin();
    void OnHelp();

    QComboBox* m_dblClk;
    QComboBox* m_initMode;
    QCheckBox* m_usePlugin;
    QPushButton* m_pluginBrowse;
    QPushButton* m_help;
};

// Command 32806: loads the five settings into the dialog, shows it, and on OK writes them back,
// loading the plug-ins at once when they have just been switched on.
void RunSettingsDialog(QWidget* owner);
