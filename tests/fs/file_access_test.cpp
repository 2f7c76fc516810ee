// Byte-range reads and the open helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fs/file_access.h"
#include "fs_test_support.h"
#include "platform/platform.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace stdfs = std::filesystem;

class FileAccessTest : public fs_test::TempTreeTest {
protected:
    // A file whose byte i is a function of i, so any misplaced range shows.
    std::string make_pattern_file(const char* name, std::size_t size) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        make_file(name, content);
        return content;
    }

    // A read's buffer, freed when the test ends.
    struct Read {
        int result;
        std::vector<std::uint8_t> bytes;
        bool buffer_null;
        std::uint32_t count;
    };

    static Read read_range(int* slot, const std::string& path, std::uint32_t length, std::uint64_t offset) {
        std::uint8_t* buffer = reinterpret_cast<std::uint8_t*>(&buffer);  // must be overwritten
        std::uint32_t count = 12345;
        const int result = read_file_range(slot, path.c_str(), &buffer, &count, length, offset);
        Read read{result, {}, buffer == nullptr, count};
        if (buffer != nullptr) {
            read.bytes.assign(buffer, buffer + count);
            std::free(buffer);
        }
        return read;
    }

    static std::vector<std::uint8_t> slice(const std::string& content, std::size_t from, std::size_t length) {
        return std::vector<std::uint8_t>(content.begin() + static_cast<std::ptrdiff_t>(from),
                                         content.begin() + static_cast<std::ptrdiff_t>(from + length));
    }
};

TEST_F(FileAccessTest, ReadsExactRangesAndShortensAtTheEnd) {
    const std::string content = make_pattern_file("image.bin", 100000);
    int slot = -1;

    Read read = read_range(&slot, "image.bin", 22, 13093);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.count, 22u);
    EXPECT_EQ(read.bytes, slice(content, 13093, 22));
    EXPECT_EQ(slot, -1);

    read = read_range(&slot, "image.bin", 100, 99990);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.count, 10u);
    EXPECT_EQ(read.bytes, slice(content, 99990, 10));
    EXPECT_EQ(slot, -1);

    read = read_range(&slot, "image.bin", 0, 500);  // length 0: the whole file, offset unused
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.count, 100000u);
    EXPECT_EQ(read.bytes, slice(content, 0, 100000));
    EXPECT_EQ(slot, -1);
}

TEST_F(FileAccessTest, RangesAtOrPastTheEndAndMissingFilesFail) {
    make_pattern_file("image.bin", 1000);
    for (std::uint64_t offset : {std::uint64_t{1000}, std::uint64_t{1001}, std::uint64_t{1} << 32}) {
        int slot = -1;
        const Read read = read_range(&slot, "image.bin", 4, offset);
        EXPECT_EQ(read.result, 0) << offset;
        EXPECT_TRUE(read.buffer_null);
        EXPECT_EQ(read.count, 0u);
        EXPECT_EQ(slot, -1);
    }
    int slot = -1;
    const Read missing = read_range(&slot, "no-such-file.bin", 4, 0);
    EXPECT_EQ(missing.result, 0);
    EXPECT_TRUE(missing.buffer_null);
    EXPECT_EQ(missing.count, 0u);
    EXPECT_EQ(slot, -1);

    // An empty file read whole is an empty success with a buffer to free.
    make_file("empty.bin", "");
    const Read empty = read_range(&slot, "empty.bin", 0, 0);
    EXPECT_EQ(empty.result, 1);
    EXPECT_FALSE(empty.buffer_null);
    EXPECT_EQ(empty.count, 0u);
}

TEST_F(FileAccessTest, UsesAndClosesADescriptorHandedOver) {
    const std::string content = make_pattern_file("image.bin", 5000);
    int slot = -1;
    ASSERT_EQ(open_with_mode(&slot, "image.bin", 0), 1);
    ASSERT_GE(slot, 0);
    const int handed_over = slot;
    std::uint8_t skip[10];
    ASSERT_EQ(platform_read(slot, skip, sizeof skip), 10);  // not at position 0 any more

    const Read read = read_range(&slot, "not-this-path.bin", 16, 4000);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.bytes, slice(content, 4000, 16));
    EXPECT_EQ(slot, -1);
    EXPECT_EQ(platform_file_length(handed_over), -1) << "the descriptor was left open";
}

TEST_F(FileAccessTest, OffsetsAboveTwoAndFourGibibytes) {
    // A sparse 5 GiB file with markers at the offsets that matter.
    const std::uint64_t size = (std::uint64_t{5} << 30);
    const std::uint64_t offsets[] = {(std::uint64_t{1} << 31) - 3, std::uint64_t{1} << 31, 2642655232u,
                                     (std::uint64_t{1} << 32) - 2, (std::uint64_t{1} << 32) + 7, size - 4};
    const stdfs::path path = make_file("big.bin", "");
    stdfs::resize_file(path, size);
    int fd = -1;
    ASSERT_EQ(open_with_mode(&fd, "big.bin", 2), 1);
    ASSERT_GE(fd, 0);
    for (std::uint64_t offset : offsets) {
        const std::uint8_t marker[4] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                                        static_cast<std::uint8_t>(offset >> 24), static_cast<std::uint8_t>(offset >> 32)};
        ASSERT_EQ(platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET), static_cast<std::int64_t>(offset));
        ASSERT_EQ(platform_write(fd, marker, 4), 4);
    }
    EXPECT_EQ(platform_file_length(fd), static_cast<std::int64_t>(size));
    ASSERT_EQ(platform_close(fd), 0);

    for (std::uint64_t offset : offsets) {
        int slot = -1;
        const Read read = read_range(&slot, "big.bin", 8, offset);
        ASSERT_EQ(read.result, 1);
        const std::uint32_t expected_count = offset + 8 > size ? static_cast<std::uint32_t>(size - offset) : 8u;
        ASSERT_EQ(read.count, expected_count);
        EXPECT_EQ(read.bytes[0], static_cast<std::uint8_t>(offset)) << offset;
        EXPECT_EQ(read.bytes[1], static_cast<std::uint8_t>(offset >> 8)) << offset;
        EXPECT_EQ(read.bytes[2], static_cast<std::uint8_t>(offset >> 24)) << offset;
        EXPECT_EQ(read.bytes[3], static_cast<std::uint8_t>(offset >> 32)) << offset;
        EXPECT_EQ(slot, -1);
    }

    // A whole-file read cannot report 5 GiB in its 32-bit count: refused, nothing allocated.
    int slot = -1;
    const Read whole = read_range(&slot, "big.bin", 0, 0);
    EXPECT_EQ(whole.result, 0);
    EXPECT_TRUE(whole.buffer_null);
    EXPECT_EQ(slot, -1);

    // The stream side positions and measures in 64 bits as well.
    std::FILE* stream = platform_fopen(path.string().c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    std::int64_t stream_size = 0;
    EXPECT_EQ(platform_fstat_size(stream, &stream_size), 0);
    EXPECT_EQ(stream_size, static_cast<std::int64_t>(size));
    const std::uint64_t high = (std::uint64_t{1} << 32) + 7;
    ASSERT_EQ(platform_fseek(stream, static_cast<std::int64_t>(high), SEEK_SET), 0);
    EXPECT_EQ(platform_ftell(stream), static_cast<std::int64_t>(high));
    std::uint8_t marker[4] = {};
    ASSERT_EQ(platform_fread(marker, 4, stream), 4u);
    EXPECT_EQ(marker[3], static_cast<std::uint8_t>(high >> 32));
    EXPECT_EQ(platform_fclose(stream), 0);
}

TEST_F(FileAccessTest, OpenHelpersRespectTheirModes) {
    int slot = 7;
    EXPECT_EQ(open_with_mode(&slot, "missing.bin", 1), 1);  // no create for an existing-file mode
    EXPECT_LT(slot, 0);
    EXPECT_FALSE(stdfs::exists(root_ / "missing.bin"));
    EXPECT_EQ(open_with_mode(&slot, "missing.bin", 9), 1);
    EXPECT_LT(slot, 0);

    make_file("old.bin", "previous content");
#ifndef _WIN32
    const mode_t saved_mask = umask(0);
#endif
    ASSERT_EQ(create_file_for_writing(&slot, "old.bin"), 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(platform_file_length(slot), 0);  // truncated
    EXPECT_EQ(platform_write(slot, "new", 3), 3);
    EXPECT_EQ(platform_close(slot), 0);
    ASSERT_EQ(create_file_for_writing(&slot, "fresh.bin"), 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(platform_close(slot), 0);
#ifndef _WIN32
    umask(saved_mask);
    struct stat status {};
    ASSERT_EQ(stat((root_ / "fresh.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
#endif
    EXPECT_EQ(stdfs::file_size(root_ / "old.bin"), 3u);

    ASSERT_EQ(open_with_mode(&slot, "old.bin", 0), 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(platform_write(slot, "x", 1), -1);  // read-only
    char back[8] = {};
    EXPECT_EQ(platform_read(slot, back, sizeof back), 3);  // fewer only at the end
    EXPECT_EQ(std::string(back), "new");
    EXPECT_EQ(platform_close(slot), 0);

    EXPECT_EQ(platform_remove((root_ / "old.bin").string().c_str()), 0);
    EXPECT_FALSE(stdfs::exists(root_ / "old.bin"));
    EXPECT_NE(platform_remove((root_ / "old.bin").string().c_str()), 0);
}

}  // namespace
