// One thread of its own that runs the tasks given to it one after another, behind the
// user-interface thread (as the picture workers are). A task reports back by queueing a call to
// the user-interface thread itself.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CWorker {
public:
    CWorker();
    // Waits for the task at hand; those not started are dropped.
    ~CWorker();
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    void Post(std::function<void()> task);

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_bQuit = false;
    std::thread m_thread; // last: started once the rest is in place
};
