#include "core/VantleError.h"

using namespace Qt::StringLiterals;

QString VantleError::describe(const std::exception& error) {
    if (const auto* vantle = dynamic_cast<const VantleError*>(&error)) return vantle->description();
    // QtConcurrent wraps whatever else a task threw; the user reads the thrown error, not the wrapper.
    if (const auto* unhandled = dynamic_cast<const QUnhandledException*>(&error);
        unhandled && unhandled->exception())
        return describe(unhandled->exception());
    return QString::fromUtf8(error.what());
}

QString VantleError::describe(const std::exception_ptr& error) {
    if (!error) return u"Unknown error"_s;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& thrown) {
        return describe(thrown);
    } catch (...) {
        return u"Unknown error"_s;
    }
}
