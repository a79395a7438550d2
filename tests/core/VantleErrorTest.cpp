#include "core/VantleError.h"

#include <QUnhandledException>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

class TestError final : public VantleError {
public:
    QString description() const override { return u"Android is not set up"_s; }
    void raise() const override { throw *this; }
    TestError* clone() const override { return new TestError(*this); }
};

template <typename Thrown> std::exception_ptr thrown(Thrown error) {
    return std::make_exception_ptr(std::move(error));
}

} // namespace

TEST(VantleErrorTest, DescribeGivesTheUsersTextForAnythingThrown) {
    const struct {
        const char* name;
        std::exception_ptr error;
        QString text;
    } cases[] = {
        {"vantle error", thrown(TestError{}), u"Android is not set up"_s},
        {"std::exception", thrown(std::runtime_error("disk full")), u"disk full"_s},
        {"wrapped by QtConcurrent", thrown(QUnhandledException(thrown(std::runtime_error("disk full")))),
         u"disk full"_s},
        {"wrapped vantle error", thrown(QUnhandledException(thrown(TestError{}))),
         u"Android is not set up"_s},
        {"wrapped non-exception", thrown(QUnhandledException(thrown(42))), u"Unknown error"_s},
        {"not an exception", thrown(42), u"Unknown error"_s},
        {"nothing", nullptr, u"Unknown error"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VantleError::describe(c.error), c.text) << c.name;
}
