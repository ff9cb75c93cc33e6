#include "platform/IdleHook.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

CIdleHook::CIdleHook(IdleFn fn, QObject* parent) : QObject(parent), m_fn(std::move(fn)) {
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &CIdleHook::OnTimer);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

CIdleHook::~CIdleHook() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void CIdleHook::Wake() {
    m_lCount = 0;
    if (!m_timer.isActive())
        m_timer.start();
}

bool CIdleHook::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::FocusIn:
    case QEvent::WindowActivate:
    case QEvent::Show:
    case QEvent::Resize:
    case QEvent::Drop:
        // Events travel up the parent chain; only the first delivery needs to restart the count.
        if (watched->isWidgetType() || watched->isWindowType())
            Wake();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CIdleHook::OnTimer() {
    if (m_bInCall)
        return;
    // A modal dialog or an open menu runs its own loop; the program's idle work waits for it.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        m_timer.stop();
        return;
    }
    m_bInCall = true;
    const bool more = m_fn(m_lCount++);
    m_bInCall = false;
    if (!more)
        m_timer.stop();
}
