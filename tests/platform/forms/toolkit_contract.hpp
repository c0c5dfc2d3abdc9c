#pragma once
// The toolkit contract, run against every backend a test binary can create.

#include <gtest/gtest.h>

#include "pelmora/forms/toolkit.hpp"

namespace pelmora::forms::test {

/// Parameter: which toolkit to exercise ("headless" or "qt").
class ToolkitContract : public ::testing::TestWithParam<const char*> {
protected:
    [[nodiscard]] Toolkit& toolkit() const;
};

}  // namespace pelmora::forms::test
