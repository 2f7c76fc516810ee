// Byte-range reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fs/file_access.h"
#include "fs_test_support.h"
#include "platform/platform.h"

namespace {

struct Read {
    int result;
    std::string bytes;
    bool buffer_null;
    std::uint32_t count;
    int slot;
};

Read read_range(int slot, const char* path, std::uint32_t length, std::uint64_t offset) {
    std::uint8_t* buffer = reinterpret_cast<std::uint8_t*>(&buffer);  // must be overwritten
    std::uint32_t count = 12345;
    const int result = read_file_range(&slot, path, &buffer, &count, length, offset);
    Read read{result, {}, buffer == nullptr, count, slot};
    if (buffer != nullptr) read.bytes.assign(reinterpret_cast<char*>(buffer), count);
    std::free(buffer);
    return read;
}

class FileAccessTest : public fs_test::TempTreeTest {};

TEST_F(FileAccessTest, ReadsExactRangesShortensAtTheEndAndRefusesPastIt) {
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    make_file("image.bin", content);
    struct Case {
        std::uint32_t length;
        std::uint64_t offset;
        int result;
        std::size_t from, count;
    };
    const Case cases[] = {{22, 13093, 1, 13093, 22}, {100, 99990, 1, 99990, 10}, {0, 500, 1, 0, 100000},
                          {4, 100000, 0, 0, 0},      {4, 100001, 0, 0, 0},       {4, std::uint64_t{1} << 32, 0, 0, 0}};
    for (const Case& c : cases) {
        const Read read = read_range(-1, "image.bin", c.length, c.offset);
        EXPECT_EQ(read.result, c.result) << c.offset;
        EXPECT_EQ(read.count, c.count) << c.offset;
        EXPECT_EQ(read.buffer_null, c.result == 0) << c.offset;
        EXPECT_TRUE(read.bytes == content.substr(c.from, c.count)) << c.offset;
        EXPECT_EQ(read.slot, -1);
    }
    const Read missing = read_range(-1, "no-such-file.bin", 4, 0);
    EXPECT_EQ(missing.result, 0);
    EXPECT_TRUE(missing.buffer_null);
    EXPECT_EQ(missing.slot, -1);

    // A descriptor handed over is used (from the right offset) and closed.
    int slot = -1;
    ASSERT_EQ(open_with_mode(&slot, "image.bin", 0), 1);
    ASSERT_EQ(platform_read(slot, &content[0], 10), 10);
    const Read handed = read_range(slot, "not-this-path.bin", 16, 4000);
    EXPECT_EQ(handed.bytes, content.substr(4000, 16));
    EXPECT_EQ(handed.slot, -1);
    EXPECT_EQ(platform_file_length(slot), -1) << "the descriptor was left open";
}

TEST_F(FileAccessTest, OffsetsAboveTwoAndFourGibibytes) {
    const std::uint64_t size = std::uint64_t{5} << 30;
    const std::uint64_t offsets[] = {(std::uint64_t{1} << 31) - 3, std::uint64_t{1} << 31,
                                     (std::uint64_t{1} << 32) - 2, (std::uint64_t{1} << 32) + 7, size - 4};
    const auto marker = [](std::uint64_t offset) {
        return std::string{static_cast<char>(offset), static_cast<char>(offset >> 8), static_cast<char>(offset >> 24),
                           static_cast<char>(offset >> 32)};
    };
    fs_test::stdfs::resize_file(make_file("big.bin", ""), size);  // sparse
    int fd = platform_open("big.bin", OPEN_READ_WRITE);
    ASSERT_GE(fd, 0);
    for (std::uint64_t offset : offsets) {
        ASSERT_EQ(platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET), static_cast<std::int64_t>(offset));
        ASSERT_EQ(platform_write(fd, marker(offset).data(), 4), 4);
    }
    ASSERT_EQ(platform_close(fd), 0);
    for (std::uint64_t offset : offsets) {
        const Read read = read_range(-1, "big.bin", 8, offset);
        ASSERT_EQ(read.result, 1);
        EXPECT_EQ(read.count, offset + 8 > size ? 4u : 8u);
        EXPECT_EQ(read.bytes.substr(0, 4), marker(offset)) << offset;
        EXPECT_EQ(read.slot, -1);
    }
    // A whole-file read cannot report 5 GiB in its 32-bit count: refused, nothing allocated.
    const Read whole = read_range(-1, "big.bin", 0, 0);
    EXPECT_EQ(whole.result, 0);
    EXPECT_TRUE(whole.buffer_null);
}

}  // namespace
