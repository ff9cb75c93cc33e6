#include "convert/ColorBtn.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace {

// Dialog units of an 8-point "MS Sans Serif" dialog: 4 horizontal units are 6 pixels, 8 vertical
// units 13 pixels (rounded as the system rounds them).
constexpr int kBaseX = 6, kBaseY = 13;
int DuX(int du) {
    return (du * kBaseX * 2 + 4) / 8;
}
int DuY(int du) {
    return (du * kBaseY * 2 + 8) / 16;
}

constexpr std::array<unsigned, CColorBtnDlg::kSwatches> kInitialColors = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000,
    0xC0C0C0, 0xC0DCC0, 0xF0CAA6, 0xF0FBFF, 0xA4A0A0, 0x808080, 0x0000FF,
    0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};
constexpr std::array<int, CColorBtnDlg::kSwatches> kInitialUsed = {
    1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2,
};

// One swatch: the whole item filled with its colour of the table.
class CSwatch : public QAbstractButton {
public:
    CSwatch(int index, QWidget* parent) : QAbstractButton(parent), m_index(index) {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(Qt::NoPen);
        p.setBrush(ColorOfValue(CColorBtnDlg::s_colors[size_t(m_index)]));
        p.drawRect(rect());
    }

private:
    int m_index;
};

// A line from a start point to an end point that is not painted (horizontal or vertical).
void LineTo(QPainter& p, QPoint& at, QPoint to) {
    if (to != at) {
        const QPoint step((to.x() > at.x()) - (to.x() < at.x()),
                          (to.y() > at.y()) - (to.y() < at.y()));
        p.drawLine(at, to - step);
    }
    at = to;
}

void Pixel(QPainter& p, int x, int y, const QColor& c) {
    p.setPen(c);
    p.drawPoint(x, y);
}

} // namespace

QColor ColorOfValue(unsigned value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

unsigned ValueOfColor(const QColor& color) {
    return unsigned(color.red()) | unsigned(color.green()) << 8 | unsigned(color.blue()) << 16;
}

std::array<unsigned, CColorBtnDlg::kSwatches> CColorBtnDlg::s_colors = kInitialColors;
std::array<int, CColorBtnDlg::kSwatches> CColorBtnDlg::s_used = kInitialUsed;
std::function<bool(QColor&)> CColorBtnDlg::s_chooseColor;

void CColorBtnDlg::ResetTables() {
    s_colors = kInitialColors;
    s_used = kInitialUsed;
}

void CColorBtnDlg::MarkUsed(int i) {
    const int used = s_used[size_t(i)];
    for (int& u : s_used)
        if (u < used)
            ++u;
    s_used[size_t(i)] = 1;
}

QPoint CColorBtnDlg::Placement(const QRect& b, const QSize& popup, const QRect& screen) {
    // Window rectangles end before their right and bottom edges.
    QRect p(QPoint(b.left(), b.bottom() + 1), popup);
    const int screenRight = screen.x() + screen.width(),
              screenBottom = screen.y() + screen.height();
    if (p.bottom() + 1 > screenBottom)
        p.translate(0, -(p.bottom() + 1 - b.top()));
    if (p.right() + 1 > screenRight)
        p.translate(-(p.right() + 1 - screenRight), 0);
    return p.topLeft();
}

CColorBtnDlg::CColorBtnDlg(QWidget* button)
    : QDialog(button, Qt::Dialog | Qt::FramelessWindowHint), m_pButton(button) {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPointSize(8);
    setFont(f);
    setFixedSize(DuX(49), DuY(73));
    static constexpr int columns[4] = {1, 13, 25, 37}, rows[5] = {1, 12, 24, 36, 48};
    for (int i = 0; i < kSwatches; ++i) {
        auto* swatch = new CSwatch(i, this);
        swatch->setGeometry(DuX(columns[i % 4]), DuY(rows[i / 4]), DuX(11), DuY(10));
        swatch->setProperty("controlId", kFirstSwatchId + unsigned(i));
        connect(swatch, &QAbstractButton::clicked, this, [this, i] { OnSwatch(i); });
        m_swatches[size_t(i)] = swatch;
    }
    m_other = new QPushButton(QStringLiteral("Other..."), this);
    m_other->setGeometry(DuX(1), DuY(60), DuX(47), DuY(11));
    m_other->setProperty("controlId", kOtherId);
    m_other->setAutoDefault(false);
    connect(m_other, &QPushButton::clicked, this, &CColorBtnDlg::OnOther);
}

CColorBtnDlg::~CColorBtnDlg() = default;

int CColorBtnDlg::exec() {
    m_nSelected = -1;
    const QRect b(m_pButton->mapToGlobal(QPoint(0, 0)), m_pButton->size());
    QScreen* screen = m_pButton->screen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    move(Placement(b, size(), area));
    return QDialog::exec();
}

void CColorBtnDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    grabMouse();
}

void CColorBtnDlg::EndDialog(int result) {
    releaseMouse();
    done(result);
}

void CColorBtnDlg::OnSwatch(int i) {
    m_nSelected = i;
    MarkUsed(i);
    EndDialog(Accepted);
}

void CColorBtnDlg::OnOther() {
    releaseMouse();
    QColor chosen(Qt::black);
    bool ok;
    if (s_chooseColor) {
        ok = s_chooseColor(chosen);
    } else {
        chosen = QColorDialog::getColor(Qt::black, this);
        ok = chosen.isValid();
    }
    if (!ok) {
        grabMouse();
        return;
    }
    const unsigned value = ValueOfColor(chosen) & 0xFFFFFF;
    int sel = -1;
    for (int i = 0; i < kSwatches && sel < 0; ++i)
        if (s_colors[size_t(i)] == value)
            sel = i;
    if (sel < 0) {
        // The least recently chosen swatch takes the new colour.
        for (int i = 0; i < kSwatches && sel < 0; ++i)
            if (s_used[size_t(i)] == kSwatches)
                sel = i;
        s_colors[size_t(sel)] = value;
    }
    OnSwatch(sel);
}

QAbstractButton* CColorBtnDlg::ControlAt(QPoint pos) const {
    // Hidden and disabled controls count too.
    for (QAbstractButton* b : m_swatches)
        if (b->geometry().contains(pos))
            return b;
    return m_other->geometry().contains(pos) ? m_other : nullptr;
}

void CColorBtnDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (!rect().contains(event->position().toPoint())) {
            EndDialog(Rejected);
            return;
        }
        // The popup holds the mouse: a press on a control is shown on it here, and its click
        // follows when the button is released over it.
        if (QAbstractButton* b = ControlAt(event->position().toPoint()))
            b->setDown(true);
    }
    QDialog::mousePressEvent(event);
}

void CColorBtnDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        for (QAbstractButton* b : m_swatches)
            b->setDown(false);
        m_other->setDown(false);
        if (QAbstractButton* b = ControlAt(event->position().toPoint())) {
            b->click();
            return;
        }
    }
    QDialog::mouseReleaseEvent(event);
}

void CColorBtnDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        EndDialog(Rejected);
        return;
    }
    QDialog::keyPressEvent(event);
}

CColorBtn::CColorBtn(QWidget* parent) : QPushButton(parent) {
    m_penBlack = Qt::black;
    m_penGrey = QColor(128, 128, 128);
    m_penWhite = Qt::white;
    m_brushFace = palette().color(QPalette::Button);
    setAutoDefault(false);
    m_pDlg = std::make_unique<CColorBtnDlg>(this);
    connect(this, &QPushButton::clicked, this, &CColorBtn::OnClicked);
}

CColorBtn::~CColorBtn() = default;

void CColorBtn::OnClicked() {
    if (m_pDlg->exec() != QDialog::Accepted || m_pDlg->m_nSelected < 0)
        return;
    m_color = CColorBtnDlg::s_colors[size_t(m_pDlg->m_nSelected)];
    update();
}

void CColorBtn::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    int L = 0, T = 0, R = width(), B = height();
    const bool pressed = isDown(), enabled = isEnabled();

    // The face.
    p.setPen(Qt::NoPen);
    p.setBrush(m_brushFace);
    p.drawRect(L, T, R - L, B - T);
    p.setBrush(Qt::NoBrush);

    // The border, raised or pressed.
    QPoint at;
    if (!pressed) {
        p.setPen(m_penBlack);
        at = {L, B - 1};
        LineTo(p, at, {R - 1, B - 1});
        LineTo(p, at, {R - 1, T});
        p.setPen(m_penGrey);
        at = {L + 1, B - 2};
        LineTo(p, at, {R - 2, B - 2});
        LineTo(p, at, {R - 2, T + 1});
        p.setPen(m_penWhite);
        LineTo(p, at, {L + 1, T + 1});
        LineTo(p, at, {L + 1, B - 2});
    } else {
        p.setPen(m_penGrey);
        at = {L, B - 1};
        LineTo(p, at, {L, T});
        LineTo(p, at, {R - 1, T});
        p.setPen(m_penWhite);
        at = {R - 1, T - 1};
        LineTo(p, at, {R - 1, B - 1});
        LineTo(p, at, {L + 1, B - 1});
        p.setPen(m_penBlack);
        at = {L + 1, B - 2};
        LineTo(p, at, {L + 1, T + 1});
        LineTo(p, at, {R - 2, T + 1});
        // The content moves by one pixel.
        ++L, ++T, ++R, ++B;
    }

    // The separator before the arrow.
    p.setPen(m_penWhite);
    at = {R - 10, T + 4};
    LineTo(p, at, {R - 10, B - 4});
    p.setPen(m_penGrey);
    at = {R - 11, T + 4};
    LineTo(p, at, {R - 11, B - 4});

    // The arrow.
    const int m = B / 2;
    p.setPen(enabled ? m_penBlack : m_penGrey);
    at = {R - 4, m - 1};
    LineTo(p, at, {R - 9, m - 1});
    at = {R - 5, m};
    LineTo(p, at, {R - 8, m});
    if (enabled) {
        Pixel(p, R - 6, m + 1, m_penBlack);
    } else {
        Pixel(p, R - 4, m - 1, m_penWhite);
        Pixel(p, R - 5, m, m_penWhite);
        Pixel(p, R - 6, m + 1, m_penWhite);
    }

    // The colour field, outlined with the black pen.
    if (enabled) {
        p.setPen(m_penBlack);
        p.setBrush(ColorOfValue(m_color));
        const QRect field(QPoint(L + 5, T + 4), QPoint(R - 15 - 1, B - 4 - 1));
        p.drawRect(field.adjusted(0, 0, -1, -1));
        p.setBrush(Qt::NoBrush);
    }

    // The focus: dots on every second pixel.
    if (hasFocus()) {
        p.setPen(m_penBlack);
        for (int x = L + 3; x < R - 4; x += 2) {
            p.drawPoint(x, T + 3);
            p.drawPoint(x, B - 4);
        }
        for (int y = T + 3; y < B - 4; y += 2) {
            p.drawPoint(L + 3, y);
            p.drawPoint(R - 4, y);
        }
    }
}
