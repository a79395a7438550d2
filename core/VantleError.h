#pragma once

#include <QException>
#include <QString>
#include <exception>

// The base of Vantle's error types (the runtime's, the provisioner's, the display bridge's, the
// stream's): an exception whose description() is the text shown to the user. Derived from
// QException so that it crosses QtConcurrent::run and QFuture unchanged to the coroutine that
// awaits the work; each derived type overrides raise() and clone() to keep its own type.
class VantleError : public QException {
public:
    virtual QString description() const = 0;

    // The user's text for anything a step threw: a VantleError's description, any other
    // exception's what(), "Unknown error" for a throw of something else.
    static QString describe(const std::exception& error);
    static QString describe(const std::exception_ptr& error);
};
