#include <gtest/gtest.h>

#include <string>

#include "sha256.h"

namespace {

// The digest of `text` added in pieces of `piece` bytes.
std::string digest_of(const std::string& text, std::size_t piece = 1u << 20) {
    Sha256 hash;
    sha256_start(hash);
    for (std::size_t at = 0; at < text.size(); at += piece) {
        sha256_add(hash, text.data() + at, std::min(piece, text.size() - at));
    }
    return sha256_finish(hash);
}

TEST(Sha256, PublishedVectorsInPiecesOfAnySize) {
    const std::string million(1000000, 'a');
    EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    for (std::size_t piece : {1u, 63u, 64u, 65u, 1u << 20}) {
        EXPECT_EQ(digest_of(million, piece), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
            << "pieces of " << piece;
    }
}

}  // namespace
