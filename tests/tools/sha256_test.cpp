#include <gtest/gtest.h>

#include <string>

#include "sha256.h"

namespace {

std::string digest_of(const std::string& text) {
    Sha256 hash;
    sha256_start(hash);
    sha256_add(hash, text.data(), text.size());
    return sha256_finish(hash);
}

}  // namespace

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_of(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7 + 3);
    const std::string whole = digest_of(text);
    for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{333}}) {
        Sha256 hash;
        sha256_start(hash);
        for (std::size_t at = 0; at < text.size(); at += piece) {
            sha256_add(hash, text.data() + at, std::min(piece, text.size() - at));
        }
        EXPECT_EQ(sha256_finish(hash), whole) << "pieces of " << piece;
    }
}
