// Byte-range reads, below and above the 2 and 4 GiB marks, and what the run asks of a folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "fs/file_access.h"
#include "fs_test_support.h"
#include "platform/platform.h"
#include "platform/write_out.h"
#ifndef _WIN32
#include <unistd.h>
#endif

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
    // 5 GiB, sparse, with marks around 2^31 and 2^32 written through 64-bit stream offsets.
    constexpr std::uint64_t G = std::uint64_t{1} << 30, SIZE = 5 * G;
    std::string head(100000, '\0');
    for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    fs_test::stdfs::resize_file(make_file("image.bin", head), SIZE);
    const std::uint64_t marks[] = {2 * G - 3, 2 * G, 4 * G - 2, 4 * G + 7, SIZE - 4};
    const auto mark = [](std::uint64_t at) {
        return std::string{char(at), char(at >> 8), char(at >> 24), char(at >> 32)};
    };
    {
        std::fstream out(root_ / "image.bin", std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint64_t at : marks) out.seekp(static_cast<std::streamoff>(at)) << mark(at);
        ASSERT_TRUE(out.good());
    }
    struct Case {
        std::uint32_t length;
        std::uint64_t offset;
        std::string bytes;  // what comes back; refused when empty
    };
    const Case cases[] = {{22, 13093, head.substr(13093, 22)}, {4, 99990, head.substr(99990, 4)},
                          {4, 2 * G - 3, mark(2 * G - 3)},     {4, 2 * G, mark(2 * G)},
                          {4, 4 * G - 2, mark(4 * G - 2)},     {4, 4 * G + 7, mark(4 * G + 7)},
                          {8, SIZE - 4, mark(SIZE - 4)},       {4, SIZE, ""},
                          {4, SIZE + 1, ""},                   {4, SIZE + (std::uint64_t{1} << 32), ""}};
    for (const Case& c : cases) {
        const Read read = read_range(-1, "image.bin", c.length, c.offset);
        EXPECT_EQ(read.result, c.bytes.empty() ? 0 : 1) << c.offset;
        EXPECT_EQ(read.count, c.bytes.size()) << c.offset;
        EXPECT_EQ(read.buffer_null, c.bytes.empty()) << c.offset;
        EXPECT_EQ(read.bytes, c.bytes) << c.offset;
        EXPECT_EQ(read.slot, -1);
    }
    // Nothing comes of a file that is not there, nor of a folder, which may open but cannot be read.
    make_file("folder.iso/inside.bin");
    for (const char* path : {"no-such-file.bin", "folder.iso"}) {
        const Read refused = read_range(-1, path, 4, 0);
        EXPECT_TRUE(refused.result == 0 && refused.buffer_null) << path;
    }

    // A descriptor handed over is used (from the right offset) and closed.
    int slot = -1;
    ASSERT_EQ(open_with_mode(&slot, "image.bin", 0), 1);
    ASSERT_EQ(platform_read(slot, &head[0], 10), 10);
    const Read handed = read_range(slot, "not-this-path.bin", 16, 4000);
    EXPECT_EQ(handed.bytes, head.substr(4000, 16));
    EXPECT_EQ(handed.slot, -1);
    EXPECT_EQ(platform_file_length(slot), -1) << "the descriptor was left open";
}

// What the run asks of the system before it writes: a folder's free space, and the
// temporary folder the program warns about starting in (/tmp when TMPDIR is unset).
TEST_F(FileAccessTest, FreeSpaceAndTheTemporaryFolder) {
    EXPECT_GT(platform_free_space(root_.string().c_str()), 0);
#ifndef _WIN32
    const std::string saved = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
    unsetenv("TMPDIR");
    char folder[4096];
    EXPECT_TRUE(platform_temporary_folder(folder, sizeof folder) && fs_test::stdfs::canonical("/tmp") == folder);
    // A name that does not fit the buffer with its terminator is refused, never cut.
    setenv("TMPDIR", root_.c_str(), 1);
    const std::string named = fs_test::stdfs::canonical(root_).string();
    EXPECT_FALSE(platform_temporary_folder(folder, static_cast<std::uint32_t>(named.size())));
    EXPECT_TRUE(platform_temporary_folder(folder, static_cast<std::uint32_t>(named.size() + 1)) && named == folder);
    unsetenv("TMPDIR");
    if (!saved.empty()) setenv("TMPDIR", saved.c_str(), 1);
#endif
}

#ifndef _WIN32
// An output the system takes no write-out for (here a pipe) is no failure: the run goes on
// without, and is not asked again.
TEST(WriteOut, AnOutputThatTakesNoneIsNoFailure) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    WriteOut state{};
    EXPECT_EQ(platform_write_out_fd(&state, ends[1]), 0);
    EXPECT_TRUE(state.refused);
    EXPECT_EQ(platform_write_out_fd(&state, ends[1]), 0);
    close(ends[0]);
    close(ends[1]);
}
#endif

}  // namespace
