#include "test_patch.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/platform.h"
#include "vcdiff/decode_types.h"
#include "vcdiff/decoder.h"

namespace {

// splitmix64: small, fast, and the same on every platform.
struct Random {
    std::uint64_t state;
};

std::uint64_t next_random(Random& random) {
    std::uint64_t z = (random.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t random_below(Random& random, std::uint64_t bound) {
    return bound == 0 ? 0 : next_random(random) % bound;
}

// Each window draws from its own generator, so its script depends only on the seed,
// the window's number and the sizes.
Random window_random(std::uint64_t seed, std::uint64_t window) {
    Random random{seed ^ (window * 0xD1B54A32D192ED03ull)};
    next_random(random);
    return random;
}

struct CopyWindow {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Realistic windows see their own range of the source plus a margin on each side,
// where moved blocks come from; windows past the end of the source see its last part.
CopyWindow copy_window_for(const TestPatchOptions& options, std::uint64_t source_size, std::uint64_t start,
                           std::uint64_t end) {
    if (options.identity) return {start, end - start};
    if (source_size == 0) return {};
    if (start < source_size) {
        const std::uint64_t from = start > MOVED_BLOCK_REACH ? start - MOVED_BLOCK_REACH : 0;
        return {from, std::min(source_size, end + MOVED_BLOCK_REACH) - from};
    }
    const std::uint64_t from = source_size > 2 * MOVED_BLOCK_REACH ? source_size - 2 * MOVED_BLOCK_REACH : 0;
    return {from, source_size - from};
}

bool read_source(const PatchSourceFile& source, CopyWindow range, std::vector<std::uint8_t>* out) {
    out->resize(range.length);
    if (range.length == 0) return true;
    if (platform_seek(source.fd, static_cast<std::int64_t>(range.offset), SEEK_SET) !=
        static_cast<std::int64_t>(range.offset)) {
        return false;
    }
    std::uint64_t done = 0;
    while (done < range.length) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(range.length - done, 1u << 24));
        const std::int64_t got = platform_read(source.fd, out->data() + done, piece);
        if (got <= 0) return false;
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Letters, spaces and punctuation, with now and then an accented letter as the
// console's code page has it: what a changed line of dialogue looks like.
void make_text(Random& random, std::uint64_t length, Bytes* text) {
    static constexpr char LETTERS[] = "eeeeaaaiiinnssttrrulodcmpvqfbghjxyz      ,.'!?";
    static constexpr std::uint8_t ACCENTS[] = {0x82, 0x85, 0x87, 0x88, 0x8A, 0x96};
    text->resize(length);
    for (std::uint64_t i = 0; i < length; ++i) {
        const std::uint64_t pick = random_below(random, sizeof LETTERS + sizeof ACCENTS - 1);
        (*text)[i] = pick < sizeof LETTERS - 1 ? static_cast<std::uint8_t>(LETTERS[pick])
                                               : ACCENTS[pick - (sizeof LETTERS - 1)];
    }
}

struct WindowWork {
    std::vector<std::uint8_t> source;   // the copy window's bytes
    std::vector<std::uint8_t> target;   // this window's target
    InstructionEncoder encoder;
    Bytes text;
    std::array<std::uint64_t, 8> recent_moves{};   // addresses to come back to (cache hits)
    std::size_t recent_count = 0;
};

enum EditKind { SAME_OFFSET, TEXT, MOVED, FILL, TARGET_COPY };

EditKind pick_kind(Random& random, bool same_possible, bool have_source, std::uint64_t produced) {
    const std::uint64_t roll = random_below(random, 100);
    if (roll < 55) return same_possible ? SAME_OFFSET : (have_source ? MOVED : FILL);
    if (roll < 70) return TEXT;
    if (roll < 82) return have_source ? MOVED : FILL;
    if (roll < 90) return FILL;
    return produced > 0 ? TARGET_COPY : TEXT;
}

// Encodes one realistic window and computes its target in work->target.
bool encode_realistic_window(WindowWork* work, Random& random, std::uint64_t start, std::uint64_t length,
                             CopyWindow window, bool compute_target, TestPatchStats* stats) {
    InstructionEncoder& encoder = work->encoder;
    std::uint8_t* target = work->target.data();
    const std::uint8_t* source = work->source.data();
    std::uint64_t produced = 0;
    while (produced < length) {
        const std::uint64_t left = length - produced;
        const std::uint64_t at = start + produced;
        const bool same_possible = at >= window.offset && at < window.offset + window.length;
        switch (pick_kind(random, same_possible, window.length > 0, produced)) {
        case SAME_OFFSET: {
            const std::uint64_t address = at - window.offset;
            const std::uint64_t size =
                std::min({left, 1024 + random_below(random, 65536), window.length - address});
            if (!encode_copy(&encoder, address, size)) return false;
            if (compute_target) std::memcpy(target + produced, source + address, size);
            produced += size;
            ++stats->same_offset_copies;
            break;
        }
        case TEXT: {
            const std::uint64_t wanted =
                random_below(random, 8) == 0 ? 1 + random_below(random, 2000) : 1 + random_below(random, 40);
            const std::uint64_t size = std::min(left, wanted);
            make_text(random, size, &work->text);
            if (!encode_add(&encoder, work->text)) return false;
            if (compute_target) std::memcpy(target + produced, work->text.data(), size);
            produced += size;
            ++stats->adds;
            stats->add_bytes += size;
            break;
        }
        case MOVED: {
            // Small blocks too, so that sizes held in the opcode and paired opcodes occur.
            const std::uint64_t wanted =
                random_below(random, 4) == 0 ? 4 + random_below(random, 15) : 16 + random_below(random, 32768);
            std::uint64_t size = std::min({left, wanted, window.length});
            std::uint64_t address = 0;
            if (work->recent_count > 0 && random_below(random, 3) == 0) {
                address = work->recent_moves[random_below(random, std::min<std::size_t>(work->recent_count, 8))];
                size = std::min(size, window.length - address);
            } else {
                address = random_below(random, window.length - size + 1);
            }
            work->recent_moves[work->recent_count++ % work->recent_moves.size()] = address;
            if (!encode_copy(&encoder, address, size)) return false;
            if (compute_target) std::memcpy(target + produced, source + address, size);
            produced += size;
            ++stats->moved_copies;
            break;
        }
        case FILL: {
            static constexpr std::uint8_t FILL_BYTES[] = {0x00, 0x00, 0xFF, 0x20};
            const std::uint64_t pick = random_below(random, 5);
            const auto byte =
                pick < 4 ? FILL_BYTES[pick] : static_cast<std::uint8_t>(random_below(random, 256));
            const std::uint64_t size = std::min(left, 8 + random_below(random, 16384));
            if (!encode_run(&encoder, byte, size)) return false;
            if (compute_target) std::memset(target + produced, byte, size);
            produced += size;
            ++stats->runs;
            break;
        }
        case TARGET_COPY: {
            // May overlap the bytes it produces, which repeats a pattern.
            const std::uint64_t from = produced - 1 - random_below(random, std::min<std::uint64_t>(produced, 1u << 20));
            const std::uint64_t size = std::min(left, 4 + random_below(random, 4096));
            if (!encode_copy(&encoder, window.length + from, size)) return false;
            if (compute_target) {
                for (std::uint64_t i = 0; i < size; ++i) target[produced + i] = target[from + i];
            }
            produced += size;
            ++stats->target_copies;
            break;
        }
        }
    }
    return true;
}

void write_header(const TestPatchOptions& options, PatchSink* sink) {
    FileHeaderSpec header;
    header.indicator = VCD_APPHEADER;
    const std::string note = "make-test-patch seed=" + std::to_string(options.seed) +
                             (options.identity ? " identity" : " realistic") +
                             " target=" + std::to_string(options.target_size);
    header.app_header.assign(note.begin(), note.end());
    write_file_header(sink, header);
}

}  // namespace

std::uint64_t test_patch_window_count(const TestPatchOptions& options) {
    return (options.target_size + options.window_size - 1) / options.window_size;
}

TestPatchResult write_test_patch(const TestPatchOptions& options, const PatchSourceFile& source, PatchSink* sink,
                                 Sha256* target_hash) {
    TestPatchResult result;
    const bool compute_target = options.checksums || target_hash != nullptr;
    if (compute_target && source.fd < 0 && source.size > 0) {
        result.error = "the source must be read to compute checksums or a digest";
        return result;
    }
    if (options.identity && options.target_size != source.size) {
        result.error = "an identity patch has the source's size";
        return result;
    }
    WindowWork work;
    work.encoder.keep_ops = false;
    write_header(options, sink);

    const std::uint64_t windows = test_patch_window_count(options);
    for (std::uint64_t index = 0; index < windows; ++index) {
        const std::uint64_t start = index * options.window_size;
        const std::uint64_t length = std::min(options.window_size, options.target_size - start);
        const CopyWindow copy_window = copy_window_for(options, source.size, start, start + length);
        if (compute_target && !read_source(source, copy_window, &work.source)) {
            result.error = "cannot read the source";
            return result;
        }
        encoder_start(&work.encoder, copy_window.length);
        work.recent_count = 0;
        const std::uint8_t* target = work.source.data();
        if (options.identity) {
            if (!encode_copy(&work.encoder, 0, length)) return result;
            ++result.stats.same_offset_copies;
        } else {
            Random random = window_random(options.seed, index);
            work.target.resize(length);
            if (!encode_realistic_window(&work, random, start, length, copy_window, compute_target, &result.stats)) {
                result.error = "an instruction could not be encoded";
                return result;
            }
            target = work.target.data();
        }
        WindowSpec window = window_from_encoder(&work.encoder, copy_window.length > 0 ? VCD_SOURCE : 0,
                                                copy_window.length, copy_window.offset);
        if (window.target_length != length) {
            result.error = "a window came out of the wrong length";
            return result;
        }
        if (options.checksums) {
            window.indicator = static_cast<std::uint8_t>(window.indicator | VCD_CHECKSUM);
            window.checksum = reference_adler32(target, length);
            if (options.bad_checksum_window == index) window.checksum ^= 1;
        }
        if (target_hash != nullptr) sha256_add(*target_hash, target, length);
        write_window(sink, window);
        if (sink->failed) {
            result.error = "cannot write the patch";
            return result;
        }
        ++result.stats.windows;
    }
    result.ok = true;
    return result;
}
