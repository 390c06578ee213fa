// Runs every test and ends with one summary line, "N passed, N failed" with
// ", N skipped" after it when any case skipped itself, that scripts driving
// the Windows build under Wine read instead of gtest's report. A skipped case
// is reported as one: it ran nothing, so it never counts as passed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conformance.h"

int main(int argc, char **argv) {
    // The processes tests start this program again as their child.
    int childStatus = 0;
    if (RunAsChild(argc, argv, &childStatus)) return childStatus;
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (!::testing::GTEST_FLAG(list_tests)) {
        const ::testing::UnitTest *run = ::testing::UnitTest::GetInstance();
        int skipped = run->skipped_test_count();
        // successful_test_count() does not count skipped cases.
        if (skipped)
            std::printf("%d passed, %d failed, %d skipped\n", run->successful_test_count(),
                        run->failed_test_count(), skipped);
        else
            std::printf("%d passed, %d failed\n", run->successful_test_count(), run->failed_test_count());
        std::fflush(stdout);
    }
    return result;
}
