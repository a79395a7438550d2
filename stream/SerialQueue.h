#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A labelled serial work queue: one worker thread runs the posted work items one at a time, in the
// order they were posted. Destruction drops work that has not started and joins the worker, so it
// must not happen on the worker itself (work items therefore never own the queue's owner).
class SerialQueue {
public:
    explicit SerialQueue(QString label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> work);
    const QString& label() const { return m_label; }

private:
    void run();

    const QString m_label;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_work;
    bool m_closing = false;
    std::thread m_worker;
};
