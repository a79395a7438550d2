// Linked into every test program of a ThreadSanitizer build (see vantle_test).
//
// Qt is not instrumented, and a QThreadPool hands a task to a thread that is already running under
// a futex-based QMutex, which ThreadSanitizer cannot see. Everything the task reads that the
// submitting thread wrote (the task object itself: QtConcurrent's task is a template built into our
// own instrumented code) then looks like a race. Such reports are not only noise: the runtime that
// ships with GCC 12 can fail its own internal check while building one, which kills the program.
//
// This file replaces QThreadPool::start(QRunnable*, int) for the program: it wraps the task in a
// runnable that acquires what the submitter released, then hands it to Qt's own start(). Races
// between two tasks, or between a task and anything but its hand-off, are still reported.
#include <QRunnable>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

class Handoff final : public QRunnable {
public:
    explicit Handoff(QRunnable* task)
        : m_task(task)
        , m_ownsTask(task->autoDelete()) {
        setAutoDelete(true);
        __tsan_release(this);
    }
    ~Handoff() override {
        if (m_ownsTask) delete m_task; // ran, or cleared from the queue unrun
    }
    void run() override {
        __tsan_acquire(this);
        m_task->run();
    }

private:
    QRunnable* m_task;
    bool m_ownsTask;
};

using Start = void (*)(QThreadPool*, QRunnable*, int);

Start qtStart() {
    // The Itanium name of QThreadPool::start(QRunnable*, int), looked up past this program.
    static const Start start = [] {
        void* found = dlsym(RTLD_NEXT, "_ZN11QThreadPool5startEP9QRunnablei");
        if (found == nullptr) {
            std::fprintf(stderr, "ThreadPoolHandoff: QThreadPool::start not found in Qt: %s\n", dlerror());
            std::abort();
        }
        return reinterpret_cast<Start>(found);
    }();
    return start;
}

} // namespace

void QThreadPool::start(QRunnable* runnable, int priority) {
    if (runnable == nullptr) return;
    qtStart()(this, new Handoff(runnable), priority);
}
