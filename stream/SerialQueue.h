#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A labelled serial work queue: one worker thread runs the posted work items one at a time, in the
// order they were posted; an item posted with a delay waits that long without holding up the others.
// Destruction drops work that has not started and joins the worker, so it must not happen on the worker
// itself (work items therefore never own the queue's owner).
class SerialQueue {
public:
    explicit SerialQueue(QString label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> work);
    void postAfter(std::chrono::milliseconds delay, std::function<void()> work);
    const QString& label() const { return m_label; }

private:
    void run();

    const QString m_label;
    std::mutex m_lock;
    std::condition_variable m_wake;
    struct Item {
        std::chrono::steady_clock::time_point due;
        std::function<void()> work;
    };
    std::deque<Item> m_work; // in posting order
    bool m_closing = false;
    std::thread m_worker;
};
