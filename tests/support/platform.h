// The system the suite was built for, for the few cases whose subject exists
// on one system only; such a case skips elsewhere with its reason.
#pragma once

namespace trivane::test {

inline constexpr bool windowsTarget = TRIVANE_TEST_WINDOWS != 0;

}  // namespace trivane::test
