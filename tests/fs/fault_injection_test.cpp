// The fault-injection build of the platform layer, and how read_file_range meets the
// faults it injects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fs/file_access.h"
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

    static int read_range(std::uint32_t length, std::uint64_t offset, std::uint32_t* count) {
        int slot = -1;
        std::uint8_t* buffer = nullptr;
        const int result = read_file_range(&slot, "data.bin", &buffer, count, length, offset);
        EXPECT_EQ(slot, -1);
        EXPECT_EQ(result == 1, buffer != nullptr);
        std::free(buffer);
        return result;
    }
};

TEST_F(FaultInjectionTest, AnArmedReadFailsOnceAndOnlyOnce) {
    int fd = platform_open("data.bin", OPEN_READ_ONLY);
    ASSERT_GE(fd, 0);
    fault_injection_arm(FAULT_READ, 3, FAULT_FAIL);
    char bytes[8];
    std::int64_t results[5];
    for (std::int64_t& result : results) result = platform_read(fd, bytes, sizeof bytes);
    EXPECT_EQ(results[0], 8);
    EXPECT_EQ(results[1], 8);
    EXPECT_EQ(results[2], -1);
    EXPECT_EQ(results[3], 8);
    EXPECT_EQ(results[4], 8);
    EXPECT_EQ(fault_injection_count(FAULT_READ), 5u);
    EXPECT_EQ(fault_injection_count(FAULT_OPEN), 1u);
    EXPECT_EQ(platform_close(fd), 0);
    EXPECT_EQ(fault_injection_count(FAULT_CLOSE), 1u);

    fault_injection_reset();
    EXPECT_EQ(fault_injection_count(FAULT_READ), 0u);
}

TEST_F(FaultInjectionTest, ShortTransfersMoveHalfTheBytes) {
    int fd = platform_open("out.bin", OPEN_CREATE_TRUNCATE);
    ASSERT_GE(fd, 0);
    fault_injection_arm(FAULT_WRITE, 1, FAULT_SHORT);
    EXPECT_EQ(platform_write(fd, "0123456789", 10), 5);
    EXPECT_EQ(platform_write(fd, "ab", 1), 1);
    fault_injection_arm(FAULT_WRITE, 3, FAULT_SHORT);
    EXPECT_EQ(platform_write(fd, "z", 1), 0);  // at least one byte less
    EXPECT_EQ(platform_close(fd), 0);
    EXPECT_EQ(fs_test::stdfs::file_size(root_ / "out.bin"), 6u);

    std::FILE* stream = platform_fopen("data.bin", "rb");
    ASSERT_NE(stream, nullptr);
    fault_injection_arm(FAULT_READ, 1, FAULT_SHORT);
    char bytes[16];
    EXPECT_EQ(platform_fread(bytes, 16, stream), 8u);
    EXPECT_EQ(platform_fread(bytes, 16, stream), 16u);
    EXPECT_EQ(platform_fclose(stream), 0);
}

TEST_F(FaultInjectionTest, FailedOpensAndClosesLeakNothing) {
    fault_injection_arm(FAULT_OPEN, 1, FAULT_FAIL);
    EXPECT_EQ(platform_open("data.bin", OPEN_READ_ONLY), -1);
    fault_injection_arm(FAULT_OPEN, 2, FAULT_FAIL);
    EXPECT_EQ(platform_fopen("data.bin", "rb"), nullptr);

    const int fd = platform_open("data.bin", OPEN_READ_ONLY);
    ASSERT_GE(fd, 0);
    fault_injection_arm(FAULT_CLOSE, 1, FAULT_FAIL);
    EXPECT_NE(platform_close(fd), 0);
    EXPECT_EQ(platform_file_length(fd), -1) << "a failed close must still release the descriptor";

    std::FILE* stream = platform_fopen("data.bin", "rb");
    ASSERT_NE(stream, nullptr);
    fault_injection_arm(FAULT_CLOSE, 2, FAULT_SHORT);  // no bytes to cut short: a failure
    EXPECT_NE(platform_fclose(stream), 0);
    EXPECT_EQ(fault_injection_count(FAULT_OPEN), 4u);
}

TEST_F(FaultInjectionTest, ReadFileRangeReportsEveryFaultAndClosesTheSlot) {
    std::uint32_t count = 0;
    ASSERT_EQ(read_range(10, 4, &count), 1);  // one open, seek, read and close each
    EXPECT_EQ(count, 10u);
    const FaultOperation operations[] = {FAULT_OPEN, FAULT_SEEK, FAULT_READ, FAULT_CLOSE};
    for (FaultOperation op : operations) EXPECT_EQ(fault_injection_count(op), 1u);

    for (FaultOperation op : operations) {
        for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
            fault_injection_reset();
            fault_injection_arm(op, 1, kind);
            count = 99;
            EXPECT_EQ(read_range(10, 4, &count), 0) << op << "/" << kind;
            EXPECT_EQ(count, 0u);
            // Every descriptor opened was closed again.
            EXPECT_EQ(fault_injection_count(FAULT_CLOSE), op == FAULT_OPEN ? 0u : 1u);
        }
    }
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
    fault_injection_reset();
    // A fault armed by hand wins over the environment for the same operation.
    EXPECT_EQ(fault_injection_count(FAULT_SEEK), 0u);
}

}  // namespace
