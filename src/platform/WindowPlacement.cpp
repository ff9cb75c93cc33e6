#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace WindowPlacement {

QList<QRect> ScreenAreas() {
    QList<QRect> areas;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen())
            areas << s->availableGeometry();
    return areas;
}

QRect KeepOnScreens(const QRect& saved, const QList<QRect>& areas) {
    if (areas.isEmpty() || !saved.isValid())
        return saved;
    for (const QRect& a : areas)
        if (a.contains(saved))
            return saved;
    // The area that holds most of the window; the first when none holds any of it.
    QRect area = areas.first();
    qint64 best = 0;
    for (const QRect& a : areas) {
        const QRect common = a.intersected(saved);
        const qint64 size = qint64(common.width()) * common.height();
        if (size > best) {
            best = size;
            area = a;
        }
    }
    const int w = std::min(saved.width(), area.width());
    const int h = std::min(saved.height(), area.height());
    const int x = std::clamp(saved.x(), area.left(), area.right() + 1 - w);
    const int y = std::clamp(saved.y(), area.top(), area.bottom() + 1 - h);
    return QRect(x, y, w, h);
}

void Apply(QWidget* window, const QRect& saved) {
    window->setGeometry(KeepOnScreens(saved, ScreenAreas()));
}

} // namespace WindowPlacement
