// Runs every test and ends with one summary line, "N passed, N failed", that
// scripts driving the Windows build under Wine read instead of gtest's report.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (!::testing::GTEST_FLAG(list_tests)) {
        const ::testing::UnitTest *run = ::testing::UnitTest::GetInstance();
        std::printf("%d passed, %d failed\n", run->successful_test_count(), run->failed_test_count());
        std::fflush(stdout);
    }
    return result;
}
