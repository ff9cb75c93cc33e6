#include "res/Icons.h"

#include "res/resource.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kW = 16, kH = 15;

// The button's pixmap at a scale: scale × 16 by scale × 15 pixels, for screens with that many
// device pixels per logical pixel.
QPixmap Blank(int scale) {
    QPixmap pm(kW * scale, kH * scale);
    pm.fill(Qt::transparent);
    pm.setDevicePixelRatio(scale);
    return pm;
}

void Folder(QPainter& p, int x, int y, const QColor& fill = QColor(0xF0, 0xD0, 0x60)) {
    p.setPen(QColor(0x80, 0x60, 0x10));
    p.setBrush(fill);
    QPainterPath path;
    path.moveTo(x, y + 2);
    path.lineTo(x + 4, y + 2);
    path.lineTo(x + 5, y + 3);
    path.lineTo(x + 11, y + 3);
    path.lineTo(x + 11, y + 10);
    path.lineTo(x, y + 10);
    path.closeSubpath();
    p.drawPath(path);
}

void Page(QPainter& p, int x, int y, const QColor& fill = Qt::white) {
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(fill);
    p.drawRect(x, y, 7, 9);
    p.setPen(QColor(0x70, 0x90, 0xC0));
    for (int i = 2; i < 8; i += 2)
        p.drawLine(x + 2, y + i, x + 5, y + i);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::max(1.0, std::hypot(d.x(), d.y()));
    const QPointF u(d.x() / len, d.y() / len), n(-u.y(), u.x());
    p.drawLine(to, to - u * 3 + n * 2.5);
    p.drawLine(to, to - u * 3 - n * 2.5);
}

// Each button is drawn on its 16 × 15 grid; at a larger scale the same shapes cover more pixels
// (the painter of a pixmap with a device pixel ratio scales by it), so they stay sharp.
QPixmap Draw(unsigned nID, int scale) {
    QPixmap pm = Blank(scale);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (nID) {
    case ID_DRIVE_CHANGE:
        p.setPen(QColor(0x30, 0x30, 0x30));
        p.setBrush(QColor(0xC0, 0xC0, 0xC0));
        p.drawRect(1, 5, 13, 6);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x20, 0xC0, 0x20));
        p.drawRect(11, 8, 2, 2);
        p.setBrush(QColor(0x60, 0x60, 0x60));
        p.drawRect(3, 8, 6, 1);
        break;
    case ID_FOLDER_UP:
        Folder(p, 1, 3);
        p.setRenderHint(QPainter::Antialiasing, true);
        Arrow(p, QPointF(10, 13), QPointF(10, 2), QColor(0x10, 0x80, 0x10));
        break;
    case ID_FILE_COPYTO:
        Page(p, 1, 1);
        Page(p, 7, 5);
        break;
    case ID_FILE_MOVETO:
        Page(p, 1, 1);
        p.setRenderHint(QPainter::Antialiasing, true);
        Arrow(p, QPointF(6, 11), QPointF(15, 11), QColor(0x20, 0x50, 0xD0));
        break;
    case ID_FILE_DELETE:
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(0xD0, 0x10, 0x10), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(3, 2, 13, 12);
        p.drawLine(13, 2, 3, 12);
        break;
    case ID_FILE_RENAME:
        p.setPen(QColor(0x40, 0x40, 0x40));
        p.setBrush(Qt::white);
        p.drawRect(0, 4, 15, 7);
        p.setPen(Qt::black);
        p.drawLine(3, 6, 3, 9);
        p.drawLine(6, 6, 6, 9);
        p.drawLine(10, 2, 10, 13);
        p.drawLine(9, 2, 11, 2);
        p.drawLine(9, 13, 11, 13);
        break;
    case ID_FOLDER_CREATE:
        Folder(p, 0, 3);
        p.setPen(QPen(QColor(0xE0, 0x80, 0x00), 1));
        p.drawLine(12, 0, 12, 6);
        p.drawLine(9, 3, 15, 3);
        p.drawLine(10, 1, 14, 5);
        p.drawLine(14, 1, 10, 5);
        break;
    case ID_TOOL_CONVERT:
        p.setPen(QColor(0x30, 0x30, 0x30));
        p.setBrush(QColor(0x40, 0x90, 0xE0));
        p.drawRect(0, 1, 6, 6);
        p.setBrush(QColor(0xE0, 0x60, 0x40));
        p.drawRect(9, 7, 6, 6);
        p.setRenderHint(QPainter::Antialiasing, true);
        Arrow(p, QPointF(4, 10), QPointF(8, 10), QColor(0x20, 0x20, 0x20));
        Arrow(p, QPointF(11, 4), QPointF(11, 6), QColor(0x20, 0x20, 0x20));
        break;
    case ID_HELP_FINDER: {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QColor(0x10, 0x30, 0x90));
        p.setBrush(QColor(0xFF, 0xFF, 0xC0));
        p.drawEllipse(QRectF(1.5, 0.5, 12, 12));
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(1.5, 0.5, 12, 12), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    default:
        return QPixmap();
    }
    return pm;
}

} // namespace

namespace Icons {

QIcon ForCommand(unsigned nID) {
    QIcon icon;
    for (int scale : kToolbarScales) {
        const QPixmap pm = Draw(nID, scale);
        if (pm.isNull())
            return QIcon();
        icon.addPixmap(pm);
    }
    return icon;
}

QImage ApplicationImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Drawn on a 32 × 32 grid, scaled to the size.
    p.scale(size / 32.0, size / 32.0);
    // A quill over a framed picture.
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.5));
    p.setBrush(QColor(0x70, 0xB0, 0xF0));
    p.drawRect(QRectF(2, 8, 22, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x90, 0x30));
    QPainterPath hill;
    hill.moveTo(3, 27);
    hill.lineTo(10, 17);
    hill.lineTo(16, 23);
    hill.lineTo(19, 20);
    hill.lineTo(23, 27);
    hill.closeSubpath();
    p.drawPath(hill);
    p.setBrush(QColor(0xF8, 0xE0, 0x40));
    p.drawEllipse(QRectF(16, 11, 5, 5));
    QPainterPath quill;
    quill.moveTo(30, 1);
    quill.cubicTo(22, 4, 16, 12, 13, 22);
    quill.cubicTo(20, 16, 27, 10, 30, 1);
    p.setPen(QPen(QColor(0x50, 0x30, 0x10), 1));
    p.setBrush(Qt::white);
    p.drawPath(quill);
    return image;
}

QIcon Application() {
    QIcon icon;
    for (int size : kApplicationIconSizes)
        icon.addPixmap(QPixmap::fromImage(ApplicationImage(size)));
    return icon;
}

} // namespace Icons
