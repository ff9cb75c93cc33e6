// Idle processing: the count, stopping, starting again after input.
#include "TestSupport.h"

#include "platform/IdleHook.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QWidget>

namespace {

// Runs events until pred holds or the time is up.
template <class Pred> bool SpinUntil(Pred pred, int ms = 2000) {
    const QDeadlineTimer deadline(ms);
    while (!pred() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return pred();
}

} // namespace

TEST(IdleHook, CountsUpWhileMoreIsWantedThenStops) {
    std::vector<long> calls;
    CIdleHook hook([&](long n) {
        calls.push_back(n);
        return n < 3;
    });
    hook.Wake();
    ASSERT_TRUE(SpinUntil([&] { return !hook.IsActive(); }));
    EXPECT_EQ(calls, (std::vector<long>{0, 1, 2, 3}));
    // Nothing more happens while nothing wakes it.
    QTest::qWait(30);
    EXPECT_EQ(calls.size(), 4u);
}

TEST(IdleHook, InputIsHandledBetweenCallsAndStartsTheCountAgain) {
    QWidget w;
    w.resize(50, 50);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    std::vector<long> calls;
    size_t keyAt = 0; // how many idle calls had run when the key arrived
    struct KeyCatcher : QObject {
        std::function<void()> onKey;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress)
                onKey();
            return false;
        }
    } catcher;
    catcher.onKey = [&] { keyAt = calls.size(); };
    w.installEventFilter(&catcher);

    CIdleHook hook([&](long n) {
        calls.push_back(n);
        if (calls.size() == 5)
            QCoreApplication::postEvent(&w, new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                          Qt::NoModifier, QStringLiteral("a")));
        return calls.size() < 40;
    });
    hook.Wake();
    ASSERT_TRUE(SpinUntil([&] { return !hook.IsActive(); }));
    ASSERT_EQ(keyAt, 5u) << "the key waited behind idle work";
    // The call right after the key starts from 0 again.
    ASSERT_GT(calls.size(), 5u);
    EXPECT_EQ(calls[5], 0);
    EXPECT_EQ(calls[4], 4);
}
