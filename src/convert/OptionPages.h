// The save options of the output formats: one page per format with options (GIF, JPEG, TIFF, PNG),
// shown one at a time in the sheet "画像形式の設定". The options live in the settings; the sheet
// loads all ten with the pages' defaults and writes all ten back when it is confirmed.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>

class CColorBtn;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTabWidget;

// The pages' common part: a title for the tab, the exchange of the fields, and help.
class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(const QString& title);
    QString Title() const { return m_strTitle; }
    // Moves the fields to (save false) or from (save true) the controls; false when a text is
    // refused.
    virtual bool DoDataExchange(bool save) = 0;
    // Help command 57670 of the page: the program's help with context 16.
    void OnHelp();

private:
    QString m_strTitle;
};

// "GIF形式" (page 1542).
class CGifSetPage : public CPropertyPage {
    Q_OBJECT
public:
    CGifSetPage();
    bool DoDataExchange(bool save) override;
    CColorBtn* m_btnColor; // button 1004, holding the colour
    int m_bBack = 0;       // 106 "透過形式で保存(&T)"
    int m_bInter = 0;      // 105 "インターレース形式で保存(&I)"
    QCheckBox* BackBox() const { return m_back; }
    QCheckBox* InterBox() const { return m_inter; }

private:
    QCheckBox* m_back;
    QCheckBox* m_inter;
};

// "PNG形式" (page 1541): the GIF page's controls with the fields in another order.
class CPngSetPage : public CPropertyPage {
    Q_OBJECT
public:
    CPngSetPage();
    bool DoDataExchange(bool save) override;
    CColorBtn* m_btnColor;
    int m_bInter = 0;
    int m_bBack = 0;
    QCheckBox* BackBox() const { return m_back; }
    QCheckBox* InterBox() const { return m_inter; }

private:
    QCheckBox* m_back;
    QCheckBox* m_inter;
};

// "JPEG形式" (page 1540).
class CJpegSetDlg : public CPropertyPage {
    Q_OBJECT
public:
    CJpegSetDlg();
    bool DoDataExchange(bool save) override;
    int m_bInter = 0;        // 105 "プログレッシブ形式で保存(&P)"
    int m_nSubSamp = -1;     // 140 "サブサンプリング(&S):"
    unsigned m_nQuality = 0; // 141 "圧縮品質係数(&Q):"
    QCheckBox* InterBox() const { return m_inter; }
    QComboBox* SubSampList() const { return m_subSamp; }
    QLineEdit* QualityEdit() const { return m_quality; }

private:
    QCheckBox* m_inter;
    QComboBox* m_subSamp;
    QLineEdit* m_quality;
};

// "TIFF形式" (page 1539).
class CTiffSetPage : public CPropertyPage {
    Q_OBJECT
public:
    CTiffSetPage();
    bool DoDataExchange(bool save) override;
    int m_nType = -1; // 108 "圧縮方法(&A):"
    QComboBox* TypeList() const { return m_type; }

private:
    QComboBox* m_type;
};

// The sheet: one page shown in a tab, OK, "キャンセル" and "ヘルプ".
class CPropertySheet : public QDialog {
    Q_OBJECT
public:
    CPropertySheet(const QString& caption, QWidget* parent);
    void AddPage(CPropertyPage* page);
    CPropertyPage* Page() const { return m_pPage; }
    int exec() override;
    // Takes the page's values; a refused text keeps the sheet open.
    void accept() override;

    // Tests answer the sheet instead of a person: called with the page filled in, it returns
    // QDialog::Accepted or Rejected (it may change the controls and call accept()).
    static std::function<int(CPropertySheet&)> s_answer;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTabWidget* m_tabs;
    CPropertyPage* m_pPage = nullptr;
};

// The option sheet of the conversion dialog's format index: the ten options loaded into the four
// pages, the format's page shown, all ten written back on OK. Returns true when confirmed.
bool RunFormatOptionSheet(QWidget* owner, int format);
