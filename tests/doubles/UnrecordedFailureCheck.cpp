// Linked into every test program: no export may fail without the reason
// recorded where it failed (counted in debug builds, so under the
// sanitizers in CI).
#include <gtest/gtest.h>

#include "api/UnrecordedFailure.h"

namespace {

class UnrecordedFailureCheck : public ::testing::Environment {
public:
    void SetUp() override { m_before = UnrecordedFailures(); }
    void TearDown() override
    {
        EXPECT_EQ(UnrecordedFailures(), m_before)
            << "an export failed without a recorded reason (see the diagnostic log)";
    }

private:
    unsigned long m_before = 0;
};

const bool g_registered = (::testing::AddGlobalTestEnvironment(new UnrecordedFailureCheck), true);

} // namespace
