#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <QCoro/QCoroTask>

#include <exception>
#include <optional>
#include <type_traits>

// Runs the event loop until `task` has finished; returns its result or rethrows its exception.
// For command-line tools and tests, which have no event loop of their own. (QCoro's own waitFor
// never returns when the task throws.)
namespace Coroutines {

namespace detail {
template <typename T> struct Settled {
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    bool done = false;
};

// A plain function, not a lambda: GCC 12 frees the parameters of immediately invoked lambda
// coroutines twice.
template <typename T> QCoro::Task<> settle(QCoro::Task<T> task, Settled<T>* settled, QEventLoop* loop) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            settled->value = true;
        } else {
            settled->value = co_await task;
        }
    } catch (...) {
        settled->error = std::current_exception();
    }
    settled->done = true;
    loop->quit();
}
} // namespace detail

template <typename T> T waitFor(QCoro::Task<T> task) {
    QEventLoop loop;
    detail::Settled<T> settled;
    auto settling = detail::settle(std::move(task), &settled, &loop);
    if (!settled.done) loop.exec();
    if (settled.error) std::rethrow_exception(settled.error);
    if constexpr (!std::is_void_v<T>) return std::move(*settled.value);
}

} // namespace Coroutines
