#include "stream/SerialQueue.h"

#include <pthread.h>

SerialQueue::SerialQueue(QString label)
    : m_label(std::move(label)) {
    m_worker = std::thread([this] { run(); });
    // Linux limits thread names to 15 bytes; the label's tail is the telling part.
    ::pthread_setname_np(m_worker.native_handle(), m_label.right(15).toUtf8().constData());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(m_lock);
        m_closing = true;
        m_work.clear();
    }
    m_wake.notify_all();
    m_worker.join();
}

void SerialQueue::post(std::function<void()> work) {
    postAfter(std::chrono::milliseconds(0), std::move(work));
}

void SerialQueue::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    {
        std::lock_guard guard(m_lock);
        if (m_closing) return;
        m_work.push_back({std::chrono::steady_clock::now() + delay, std::move(work)});
    }
    m_wake.notify_one();
}

void SerialQueue::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock guard(m_lock);
            for (;;) {
                if (m_closing) return;
                // The first item that is due; else sleep until the earliest one is, or a post.
                const auto now = std::chrono::steady_clock::now();
                auto next = std::chrono::steady_clock::time_point::max();
                auto due = m_work.begin();
                for (; due != m_work.end() && due->due > now; ++due)
                    next = std::min(next, due->due);
                if (due != m_work.end()) {
                    work = std::move(due->work);
                    m_work.erase(due);
                    break;
                }
                if (m_work.empty())
                    m_wake.wait(guard);
                else
                    m_wake.wait_until(guard, next);
            }
        }
        work();
    }
}
