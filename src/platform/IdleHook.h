// Idle processing: calls a function with a count 0, 1, 2, ... while no input or paint is waiting
// and for as long as the function returns true. Any input (keys, mouse, wheel, focus, window
// activation, showing or resizing a window) starts the count again at 0. Between two calls the
// event loop runs, so input and painting are always handled before the next call.
//
// It runs on a zero-timeout timer that is active only while idle work is wanted; nothing runs
// while a modal dialog or a popup menu has its own loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class CIdleHook : public QObject {
    Q_OBJECT
public:
    using IdleFn = std::function<bool(long)>;
    explicit CIdleHook(IdleFn fn, QObject* parent = nullptr);
    ~CIdleHook() override;

    // Asks for idle processing from count 0 (after input, or when new idle work appeared).
    void Wake();
    bool IsActive() const { return m_timer.isActive(); }
    long NextCount() const { return m_lCount; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTimer();

    IdleFn m_fn;
    QTimer m_timer;
    long m_lCount = 0;
    bool m_bInCall = false;
};
