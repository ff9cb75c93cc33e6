// The colour button and its palette popup: the shared tables, choices, "Other...", placement at
// the screen's edges, the mouse held by the popup, and the button's drawing.
#include "TestSupport.h"

#include "convert/ColorBtn.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>

namespace {

class ColorBtn : public ::testing::Test {
protected:
    void SetUp() override { CColorBtnDlg::ResetTables(); }
    void TearDown() override {
        CColorBtnDlg::s_chooseColor = nullptr;
        CColorBtnDlg::ResetTables();
    }
    static bool IsPermutation() {
        auto used = CColorBtnDlg::s_used;
        std::sort(used.begin(), used.end());
        for (int i = 0; i < CColorBtnDlg::kSwatches; ++i)
            if (used[size_t(i)] != i + 1)
                return false;
        return true;
    }
    // Clicks the button and runs act on the open popup.
    static int OpenAnd(CColorBtn& button, std::function<void(CColorBtnDlg&)> act) {
        int result = -2;
        QTimer::singleShot(0, &button, [&] {
            CColorBtnDlg& popup = button.Popup();
            EXPECT_TRUE(popup.isVisible());
            act(popup);
        });
        QObject::connect(
            &button.Popup(), &QDialog::finished, &button, [&](int r) { result = r; },
            Qt::SingleShotConnection);
        button.click();
        return result;
    }
    // The button's pixels as drawn.
    static QImage Drawn(CColorBtn& b) {
        QImage img(b.size(), QImage::Format_RGB32);
        img.fill(Qt::magenta);
        b.render(&img);
        return img;
    }
};

} // namespace

TEST_F(ColorBtn, SwatchTablesStartAsShippedAndRecencyMoves) {
    EXPECT_EQ(CColorBtnDlg::s_colors[0], 0x000000u);
    EXPECT_EQ(CColorBtnDlg::s_colors[9], ValueOfColor(QColor(166, 202, 240)));
    EXPECT_EQ(CColorBtnDlg::s_colors[10], ValueOfColor(QColor(255, 251, 240)));
    EXPECT_EQ(CColorBtnDlg::s_colors[13], 0x0000FFu); // red in the lowest byte
    EXPECT_EQ(CColorBtnDlg::s_used[10], 20);
    EXPECT_EQ(CColorBtnDlg::s_used[19], 2);
    ASSERT_TRUE(IsPermutation());
    // Swatch 10 chosen: recency 1, every other one raised by one.
    const auto before = CColorBtnDlg::s_used;
    CColorBtnDlg::MarkUsed(10);
    EXPECT_EQ(CColorBtnDlg::s_used[10], 1);
    for (int i = 0; i < CColorBtnDlg::kSwatches; ++i) {
        if (i != 10) {
            EXPECT_EQ(CColorBtnDlg::s_used[size_t(i)], before[size_t(i)] + 1) << i;
        }
    }
    // Then swatch 0 (was 2): only those below it move.
    CColorBtnDlg::MarkUsed(0);
    EXPECT_EQ(CColorBtnDlg::s_used[0], 1);
    EXPECT_EQ(CColorBtnDlg::s_used[10], 2);
    EXPECT_EQ(CColorBtnDlg::s_used[19], 3);
    EXPECT_EQ(CColorBtnDlg::s_used[11], 19);
    EXPECT_TRUE(IsPermutation());
}

TEST_F(ColorBtn, ClickingASwatchSetsTheButtonsColour) {
    CColorBtn button;
    button.resize(60, 24);
    button.show();
    EXPECT_EQ(button.m_color, 0xFFFFFFu);
    const int r =
        OpenAnd(button, [](CColorBtnDlg& p) { QTest::mouseClick(p.Swatch(13), Qt::LeftButton); });
    EXPECT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(button.m_color, 0x0000FFu);
    EXPECT_EQ(CColorBtnDlg::s_used[13], 1);
    EXPECT_EQ(button.Popup().m_nSelected, 13);
    // The popup holds the mouse: a press and release over a swatch, arriving at the popup itself,
    // choose that swatch.
    const QPoint at = button.Popup().Swatch(6)->geometry().center();
    EXPECT_EQ(OpenAnd(button,
                      [&](CColorBtnDlg& p) {
                          QTest::mousePress(&p, Qt::LeftButton, {}, at);
                          EXPECT_TRUE(p.Swatch(6)->isDown());
                          QTest::mouseRelease(&p, Qt::LeftButton, {}, at);
                      }),
              QDialog::Accepted);
    EXPECT_EQ(button.m_color, 0x808000u);
    // A press outside closes it and changes nothing.
    EXPECT_EQ(OpenAnd(button,
                      [](CColorBtnDlg& p) {
                          QTest::mousePress(&p, Qt::LeftButton, {}, QPoint(-5, p.height() + 3));
                      }),
              QDialog::Rejected);
    EXPECT_EQ(button.m_color, 0x808000u);
    EXPECT_FALSE(button.Popup().isVisible());
    // Escape too.
    EXPECT_EQ(OpenAnd(button, [](CColorBtnDlg& p) { QTest::keyClick(&p, Qt::Key_Escape); }),
              QDialog::Rejected);
}

TEST_F(ColorBtn, OtherTakesAnExistingSwatchOrReplacesTheLeastRecentOne) {
    CColorBtn button;
    button.resize(60, 24);
    button.show();
    QColor answer;
    bool cancel = false;
    QColor shownAt;
    CColorBtnDlg::s_chooseColor = [&](QColor& c) {
        shownAt = c;
        if (cancel)
            return false;
        c = answer;
        return true;
    };
    // A colour already in the table: that swatch, the colours unchanged.
    const auto colours = CColorBtnDlg::s_colors;
    answer = QColor(0, 128, 128);
    EXPECT_EQ(OpenAnd(button, [](CColorBtnDlg& p) { p.OtherButton()->click(); }),
              QDialog::Accepted);
    EXPECT_EQ(shownAt, QColor(Qt::black)); // the dialog starts at black, not at the button's
    EXPECT_EQ(button.Popup().m_nSelected, 6);
    EXPECT_EQ(CColorBtnDlg::s_colors, colours);
    EXPECT_EQ(CColorBtnDlg::s_used[6], 1);
    // A new colour replaces swatch 10, the least recently chosen in a fresh process.
    answer = QColor(1, 2, 3);
    EXPECT_EQ(OpenAnd(button, [](CColorBtnDlg& p) { p.OtherButton()->click(); }),
              QDialog::Accepted);
    EXPECT_EQ(button.Popup().m_nSelected, 10);
    EXPECT_EQ(CColorBtnDlg::s_colors[10], 0x030201u);
    EXPECT_EQ(button.m_color, 0x030201u);
    EXPECT_EQ(CColorBtnDlg::s_used[10], 1);
    // The next new colour goes to the one that is now the least recent: swatch 9.
    answer = QColor(4, 5, 6);
    EXPECT_EQ(CColorBtnDlg::s_used[9], 20);
    EXPECT_EQ(OpenAnd(button, [](CColorBtnDlg& p) { p.OtherButton()->click(); }),
              QDialog::Accepted);
    EXPECT_EQ(button.Popup().m_nSelected, 9);
    EXPECT_EQ(CColorBtnDlg::s_colors[10], 0x030201u);
    // A cancelled colour dialog leaves the popup open; a click outside then closes it.
    cancel = true;
    EXPECT_EQ(OpenAnd(button,
                      [](CColorBtnDlg& p) {
                          p.OtherButton()->click();
                          EXPECT_TRUE(p.isVisible());
                          QTest::mousePress(&p, Qt::LeftButton, {}, QPoint(p.width() + 10, 2));
                      }),
              QDialog::Rejected);
    EXPECT_EQ(button.m_color, 0x060504u);
    EXPECT_TRUE(IsPermutation());
}

TEST_F(ColorBtn, PlacementAtTheScreensEdges) {
    const QRect screen(0, 0, 800, 600);
    const QSize popup(74, 119);
    // Under the button, left edges aligned.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(100, 100, 60, 24), popup, screen), QPoint(100, 124));
    // Near the bottom: above the button, ending at its top.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(100, 500, 60, 24), popup, screen),
              QPoint(100, 500 - 119));
    // Ending exactly at the bottom edge still fits.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(100, 457, 60, 24), popup, screen), QPoint(100, 481));
    // Near the right edge: shifted left to end at the screen's right edge.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(770, 100, 30, 24), popup, screen),
              QPoint(800 - 74, 124));
    // In the corner both apply.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(780, 590, 20, 10), popup, screen),
              QPoint(800 - 74, 590 - 119));
    // A second screen to the right: its own edges count.
    EXPECT_EQ(CColorBtnDlg::Placement(QRect(1570, 100, 30, 24), popup, QRect(800, 0, 800, 600)),
              QPoint(1600 - 74, 124));

    // The real popup under a button in the screen's bottom-right corner.
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    const QRect avail = QGuiApplication::primaryScreen()->geometry();
    window.setGeometry(avail.right() - 99, avail.bottom() - 39, 100, 40);
    CColorBtn button(&window);
    button.setGeometry(60, 10, 40, 24);
    window.show();
    QPoint pos;
    OpenAnd(button, [&](CColorBtnDlg& p) {
        pos = p.pos();
        p.reject();
    });
    const QPoint b = button.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(pos.y(), b.y() - button.Popup().height());
    EXPECT_EQ(pos.x() + button.Popup().width(), avail.x() + avail.width());
    // 49 × 73 dialog units of the 8-point dialog font; "Other..." along the bottom.
    EXPECT_EQ(button.Popup().size(), QSize(74, 119));
    EXPECT_EQ(button.Popup().Swatch(5)->geometry(), QRect(20, 20, 17, 16));
    EXPECT_EQ(button.Popup().OtherButton()->geometry(), QRect(2, 98, 71, 18));
}

TEST_F(ColorBtn, DrawingRaisedPressedDisabledAndFocused) {
    QWidget window;
    CColorBtn button(&window);
    button.setGeometry(0, 0, 60, 24);
    button.m_color = 0x0000FF; // red
    window.show();
    const int R = 60, B = 24, m = B / 2;
    QImage img = Drawn(button);
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255), grey = qRgb(128, 128, 128);
    // Raised: black at the bottom and right, grey inside it, white at the top left.
    EXPECT_EQ(img.pixel(5, B - 1), black);
    EXPECT_EQ(img.pixel(R - 1, 5), black);
    EXPECT_EQ(img.pixel(5, B - 2), grey);
    EXPECT_EQ(img.pixel(1, 5), white);
    EXPECT_EQ(img.pixel(5, 1), white);
    // Separator, arrow and its tip, the colour field with its black outline.
    EXPECT_EQ(img.pixel(R - 10, 8), white);
    EXPECT_EQ(img.pixel(R - 11, 8), grey);
    EXPECT_EQ(img.pixel(R - 4, m - 1), black);
    EXPECT_EQ(img.pixel(R - 8, m - 1), black);
    EXPECT_NE(img.pixel(R - 9, m - 1), black); // the end point is not painted
    EXPECT_EQ(img.pixel(R - 6, m + 1), black);
    EXPECT_EQ(img.pixel(5, 4), black);
    EXPECT_EQ(img.pixel(R - 16, B - 5), black);
    EXPECT_EQ(img.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_NE(img.pixel(R - 15, 10), qRgb(255, 0, 0));

    // Pressed: grey top and left, and the content one pixel further.
    button.setDown(true);
    img = Drawn(button);
    EXPECT_EQ(img.pixel(0, 5), grey);
    EXPECT_EQ(img.pixel(5, 0), grey);
    EXPECT_EQ(img.pixel(1, 5), black);
    EXPECT_EQ(img.pixel(R - 6 + 1, (B + 1) / 2 + 1), black);
    EXPECT_EQ(img.pixel(6, 5), black); // the field's outline moved from (5, 4)
    button.setDown(false);

    // Disabled: no colour field, grey arrow with white end points and tip.
    button.setEnabled(false);
    img = Drawn(button);
    EXPECT_NE(img.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(10, 10), img.pixel(3, 10)); // the face
    EXPECT_EQ(img.pixel(R - 6, m + 1), white);
    EXPECT_EQ(img.pixel(R - 4, m - 1), white);
    EXPECT_EQ(img.pixel(R - 7, m - 1), grey);
    button.setEnabled(true);

    // Focus: dots on every second pixel inside the border.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    button.setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(button.hasFocus());
    img = Drawn(button);
    EXPECT_EQ(img.pixel(3, 3), black);
    EXPECT_NE(img.pixel(4, 3), black);
    EXPECT_EQ(img.pixel(5, 3), black);
    EXPECT_EQ(img.pixel(3, B - 4), black);
    EXPECT_EQ(img.pixel(R - 4, 5), black);
}
