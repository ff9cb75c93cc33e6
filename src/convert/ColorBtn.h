// The colour button: a push button that shows a colour with a drop-down arrow and, when clicked,
// opens a small palette of 20 colours under itself (or the system colour dialog through
// "Other..."). The palette's colours and their order of recent use are shared by every colour
// button of the process and kept until it ends.
#pragma once

#include <QColor>
#include <QDialog>
#include <QPushButton>
#include <array>
#include <functional>
#include <memory>

class QAbstractButton;

// A colour value 0x00BBGGRR (red in the lowest byte) and the QColor it stands for.
QColor ColorOfValue(unsigned value);
unsigned ValueOfColor(const QColor& color);

// The palette popup: 20 swatches in five rows of four and "Other...". It holds the mouse while
// open, so that a click outside closes it.
class CColorBtnDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSwatches = 20;
    static constexpr unsigned kFirstSwatchId = 5101; // swatch i is control 5101 + i
    static constexpr unsigned kOtherId = 5121;

    explicit CColorBtnDlg(QWidget* button);
    ~CColorBtnDlg() override;

    // Places the popup under the button, takes the mouse and runs it modally.
    int exec() override;

    // The chosen swatch, -1 while nothing is chosen.
    int m_nSelected = -1;

    // The process-wide swatch colours and recency values (1 = most recently chosen; always a
    // permutation of 1..20).
    static std::array<unsigned, kSwatches> s_colors;
    static std::array<int, kSwatches> s_used;
    // Both tables as they are at the start of the program (for tests).
    static void ResetTables();
    // Makes swatch i the most recently chosen.
    static void MarkUsed(int i);

    // The top-left corner of a popup of the given size opened under a button with the given
    // frame, on a screen with the given geometry: below the button, above it when it would
    // leave the screen at the bottom, shifted left when it would leave it at the right.
    static QPoint Placement(const QRect& button, const QSize& popup, const QRect& screen);

    // The system colour dialog, fully open and starting at black. Tests answer it instead: return
    // true with the colour chosen, or false for a cancelled dialog.
    static std::function<bool(QColor&)> s_chooseColor;

    QAbstractButton* Swatch(int i) const { return m_swatches[size_t(i)]; }
    QPushButton* OtherButton() const { return m_other; }

    // The commands of the popup's controls.
    void OnSwatch(int i);
    void OnOther();

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Releases the mouse, then ends the popup with the result.
    void EndDialog(int result);
    QAbstractButton* ControlAt(QPoint pos) const;

    QWidget* m_pButton;
    std::array<QAbstractButton*, kSwatches> m_swatches{};
    QPushButton* m_other = nullptr;
};

// The colour button. The owner sets and reads m_color directly; the button tells nobody of a
// change.
class CColorBtn : public QPushButton {
    Q_OBJECT
public:
    explicit CColorBtn(QWidget* parent = nullptr);
    ~CColorBtn() override;

    unsigned m_color = 0xFFFFFF; // 0x00BBGGRR

    CColorBtnDlg& Popup() { return *m_pDlg; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnClicked();

    // Drawing tools fixed at construction.
    QColor m_penBlack, m_penGrey, m_penWhite, m_brushFace;
    std::unique_ptr<CColorBtnDlg> m_pDlg;
};
