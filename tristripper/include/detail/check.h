#pragma once

#include <stdexcept>

namespace tristripper {

// Thrown when an internal invariant of the stripper or its containers does not hold; what() is
// the text of the failed check. No input mesh can cause it: it signals a fault in the code.
class check_failure : public std::logic_error
{
public:
    using std::logic_error::logic_error;
};

namespace detail {

// Throws check_failure with the given text.
[[noreturn]] void fail_check(const char *text);

} // namespace detail
} // namespace tristripper

// Checks an invariant in every build type; a failure throws tristripper::check_failure(text).
#define TRISTRIPPER_CHECK(condition, text)                                                                   \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::tristripper::detail::fail_check(text);                                                         \
    } while (false)
