// The fault-injection build of the platform layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>
#include <string>

#include "fs_test_support.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace {

class FaultInjectionTest : public fs_test::TempTreeTest {
protected:
    void SetUp() override {
        TempTreeTest::SetUp();
        fault_injection_reset();
        make_file("data.bin", std::string(64, 'd'));
    }
    void TearDown() override {
        fault_injection_reset();
        TempTreeTest::TearDown();
    }
};

TEST_F(FaultInjectionTest, AnArmedCallFailsOnceAndOnlyOnceAndShortTransfersMoveHalf) {
    int fd = platform_open("data.bin", OPEN_READ_WRITE);
    ASSERT_GE(fd, 0);
    fault_injection_arm(FAULT_READ, 3, FAULT_FAIL);
    char bytes[8];
    std::int64_t results[5];
    for (std::int64_t& result : results) result = platform_read(fd, bytes, sizeof bytes);
    EXPECT_EQ(std::vector<std::int64_t>(results, results + 5), (std::vector<std::int64_t>{8, 8, -1, 8, 8}));
    EXPECT_EQ(fault_injection_count(FAULT_READ), 5u);
    fault_injection_arm(FAULT_WRITE, 1, FAULT_SHORT);
    EXPECT_EQ(platform_write(fd, "0123456789", 10), 5);
    EXPECT_EQ(platform_write(fd, "ab", 2), 2);
    EXPECT_EQ(platform_close(fd), 0);
}

TEST_F(FaultInjectionTest, FaultsAreArmedFromTheEnvironment) {
#ifdef _WIN32
    _putenv_s("ORV_FAULT", "seek:2:fail,bogus,write:1:short");
#else
    setenv("ORV_FAULT", "seek:2:fail,bogus,write:1:short", 1);
#endif
    fault_injection_reset();
    const int fd = platform_open("data.bin", OPEN_READ_WRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform_seek(fd, 4, SEEK_SET), 4);
    EXPECT_EQ(platform_seek(fd, 4, SEEK_SET), -1);
    EXPECT_EQ(platform_seek(fd, 4, SEEK_SET), 4);
    EXPECT_EQ(platform_write(fd, "abcd", 4), 2);
    EXPECT_EQ(platform_close(fd), 0);
#ifdef _WIN32
    _putenv_s("ORV_FAULT", "");
#else
    unsetenv("ORV_FAULT");
#endif
}

}  // namespace
