#include "platform/Worker.h"

#include "platform/Threads.h"

CWorker::CWorker() : m_thread([this] { Run(); }) {}

CWorker::~CWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void CWorker::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_all();
}

void CWorker::Run() {
    Threads::LowerCurrentPriority();
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bQuit || !m_tasks.empty(); });
            if (m_bQuit)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}
