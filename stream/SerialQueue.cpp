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
    {
        std::lock_guard guard(m_lock);
        if (m_closing) return;
        m_work.push_back(std::move(work));
    }
    m_wake.notify_one();
}

void SerialQueue::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock guard(m_lock);
            m_wake.wait(guard, [this] { return m_closing || !m_work.empty(); });
            if (m_closing) return;
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}
