// "変換": the output format, the colour count, an optional new size and the output folder of a
// batch conversion, and the opener of the format's option sheet.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class CTypeChangeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTypeChangeDlg(QWidget* parent = nullptr);
    ~CTypeChangeDlg() override;

    int exec() override;
    void accept() override;

    // Moves the values between the members and the controls (save: from the controls). Returns
    // false when a width or height text is not an integer (after the message).
    bool UpdateData(bool save);

    // The fields, in the order they are exchanged.
    QPushButton* m_btnDetail; // 146 "画像形式詳細(&F)..."
    int m_nFormat = 0;        // 113 "形式(&K):", 0..5
    QString m_strFolder;      // 149 "出力フォルダ(&O)"
    int m_nColor = -1;        // 172 "色数(&C):", -1 = none chosen
    int m_bResize = 0;        // 173 "サイズ変更する(&Z)"
    int m_nHeight = 0;        // 1006 "高さ(&H):"
    int m_nWidth = 0;         // 1002 "幅(&W):"

    QComboBox* FormatList() const { return m_format; }
    QComboBox* ColorList() const { return m_color; }
    QLineEdit* FolderEdit() const { return m_folder; }
    QCheckBox* ResizeBox() const { return m_resize; }
    QLineEdit* WidthEdit() const { return m_width; }
    QLineEdit* HeightEdit() const { return m_height; }
    QPushButton* BrowseButton() const { return m_browse; }

    // The handlers of the dialog's controls.
    void OnFormatChanged();
    void OnBrowse();
    void OnDetail();

    // Tests answer the dialog instead of a person: called once the dialog is initialised, it
    // returns QDialog::Accepted or Rejected.
    static std::function<int(CTypeChangeDlg&)> s_answer;
    // Tests answer the folder browser: true with the folder chosen, false when cancelled.
    static std::function<bool(QString&)> s_browse;

private:
    void OnInitDialog();
    void EnableDetail();

    QComboBox* m_format;
    QLineEdit* m_folder;
    QComboBox* m_color;
    QCheckBox* m_resize;
    QLineEdit* m_height;
    QLineEdit* m_width;
    QPushButton* m_browse;
};
