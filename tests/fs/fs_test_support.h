// Temporary folder trees for the file-system tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fs/file_search.h"

namespace fs_test {

namespace stdfs = std::filesystem;

// A fresh temporary folder made the current directory for the test, removed after.
class TempTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_cwd_ = stdfs::current_path();
        std::string name("orv-fs-");
        name.append(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // A name of its own, so that two checkouts testing at once never share a tree.
        std::random_device random;
        stdfs::path wanted;
        for (unsigned attempt = 0;; ++attempt) {
            wanted = stdfs::temp_directory_path() / (name + "-" + std::to_string(random()) + std::to_string(attempt));
            if (stdfs::create_directory(wanted)) break;
        }
        root_ = stdfs::canonical(wanted);
        stdfs::current_path(root_);
    }
    void TearDown() override {
        // A test that failed half-way leaves the walk open: run it out so the next starts idle.
        char out[4096];
        for (int guard = 0; guard < 100000 && find_next_file(out, sizeof out, "*") == 1; ++guard) {
        }
        stdfs::current_path(saved_cwd_);
        std::error_code ignored;
        stdfs::remove_all(root_, ignored);
    }
    stdfs::path make_file(const stdfs::path& relative, const std::string& content = "x") {
        const stdfs::path full = root_ / relative;
        stdfs::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    stdfs::path root_;

private:
    stdfs::path saved_cwd_;
};

// Every path find_next_file returns for `extension` until it returns 0.
inline std::vector<std::string> walk_all(const char* extension, std::size_t capacity = 4096) {
    std::vector<std::string> found;
    std::vector<char> out(capacity);
    while (find_next_file(out.data(), capacity, extension) == 1) found.emplace_back(out.data());
    return found;
}

// Idle, and back in the start folder.
inline bool search_is_done(const stdfs::path& start) {
    const SearchState& state = search_state();
    return state.depth == 0 && state.listing_handles[0] == LISTING_NONE && stdfs::current_path() == start;
}

}  // namespace fs_test
