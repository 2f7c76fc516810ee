#include "synthetic_eu_image.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

constexpr std::uint64_t S = 2048;
constexpr std::uint64_t BASE_SECTOR = 7303;
constexpr std::uint64_t BOOT_PATH_OFFSET = 12693144u;
constexpr char BOOT_PATH[] = "cdrom0:\\SXES_608.42;1";  // 22 bytes with the NUL
constexpr std::uint64_t STAMPED_END = 0x9DE41000u;      // the rebuild reads nothing past this

// The European layout, transcribed on its own so the check does not lean on the
// program's copy: a copy (offset, length), zeros (length), the relocation block, or
// bank set `offset`.
enum Kind { COPY, ZEROS, RELOCATE, BANKS };
struct Step { Kind kind; std::uint32_t offset, length; };
const Step LAYOUT[] = {
    {ZEROS, 0, 720896}, {COPY, 0x26DDB800, 61440}, {COPY, 0x2E3D6800, 61440}, {COPY, 0x3592A000, 61440},
    {COPY, 0x3E5B7800, 24576}, {COPY, 0x43EAC000, 24576}, {COPY, 0x457C5000, 18432}, {COPY, 0x4680C000, 57344},
    {COPY, 0x4C1DF800, 10240}, {ZEROS, 0, 2048}, {COPY, 0x000B8800, 13522944}, {ZEROS, 0, 137216}, {ZEROS, 0, 253952},
    {ZEROS, 0, 36864}, {ZEROS, 0, 8192}, {ZEROS, 0, 45056}, {ZEROS, 0, 92160}, {ZEROS, 0, 8192},
    {COPY, 0x00DF9800, 26624}, {COPY, 0x00E3F800, 8192}, {COPY, 0x00E28800, 22528}, {COPY, 0x00E2E000, 10240},
    {COPY, 0x00E30800, 14336}, {COPY, 0x00E19800, 61440}, {COPY, 0x00DB0000, 24576}, {ZEROS, 0, 22528},
    {COPY, 0x00DAC000, 16384}, {COPY, 0x7AD12800, 3835904}, {COPY, 0x4CE89800, 79792128},
    {COPY, 0x51AA2000, 84887552}, {COPY, 0x58212800, 84903936}, {COPY, 0x5E983000, 84920320},
    {COPY, 0x881AC800, 3540992}, {COPY, 0x7B0BB000, 65013760}, {COPY, 0x7EEBB800, 69175296},
    {COPY, 0x83834000, 69142528}, {COPY, 0x9593F000, 59086848}, {COPY, 0x9921B000, 49899520},
    {COPY, 0x9C1E3800, 23224320}, {COPY, 0x9D83B800, 6313984}, {COPY, 0x26DEA800, 123650048},
    {COPY, 0x2E3E5800, 122963968}, {COPY, 0x35939000, 147318784}, {COPY, 0x3E5BD800, 93251584},
    {COPY, 0x43EB2000, 26292224}, {COPY, 0x457C9800, 17049600}, {COPY, 0x4681A000, 94132224},
    {COPY, 0x4C1E2000, 13268992}, {RELOCATE, 0, 0}, {BANKS, 0, 0}, {BANKS, 1, 0}, {BANKS, 2, 0}, {BANKS, 3, 0},
    {BANKS, 4, 0}, {BANKS, 5, 0}, {BANKS, 6, 0}, {BANKS, 7, 0}, {BANKS, 8, 0}, {COPY, 0x0BD42000, 61440},
    {COPY, 0x106BF800, 61440}, {COPY, 0x1544E000, 61440}, {ZEROS, 0, 24576}, {COPY, 0x1E6F2800, 24576},
    {COPY, 0x1F559000, 18432}, {COPY, 0x20526800, 57344}, {COPY, 0x24477000, 20480}, {COPY, 0x260A7800, 10240},
    {ZEROS, 0, 2048},
};
static_assert(sizeof(LAYOUT) / sizeof(LAYOUT[0]) == 68);

struct BankRegion { std::uint32_t offset, length, end_value; };
const BankRegion BANK_REGIONS[9] = {
    {0x0BD51000, 76998656, 74600448}, {0x106CE800, 81262592, 78913536}, {0x1545D000, 83130368, 80697344},
    {0x1A3AA800, 70549504, 69957632}, {0x1E6F8800, 15075328, 13993984}, {0x1F55D800, 16551936, 15699968},
    {0x20534800, 66332672, 63930368}, {0x2447C000, 29538304, 28602368}, {0x260AA000, 13834240, 13832192}};

// Region-relative offsets where the banks of `set` begin: bank i 0 to 3 sectors after
// its target offset, so a piece is cut short of its bank or takes in the next one's
// start (pieces are at least 4 sectors, so the banks still ascend). The last bank
// keeps its piece inside the region.
std::vector<std::uint64_t> bank_starts(std::size_t set, const std::vector<std::uint32_t>& offsets) {
    std::vector<std::uint64_t> starts;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        std::uint64_t shift = i == 0 ? 0 : (i * 5 + i / 3) % 4;
        if (i + 1 == offsets.size()) {
            shift = std::min<std::uint64_t>(shift, (BANK_REGIONS[set].length - BANK_REGIONS[set].end_value) / S);
        }
        starts.push_back(offsets[i] + shift * S);
    }
    return starts;
}

void put_word(std::uint8_t* at, std::uint32_t word) {
    for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(word >> (8 * k));
}

// Ordinary sectors meet no header criterion (word 0 a multiple of 2048, never "SShd";
// word 1 a fixed mark; word 2 never 16; word 3 never 48,000). A header sector meets
// criterion `kind` (0 to 3).
void fill_sector(std::uint64_t sector, int kind, std::uint8_t* out) {
    const auto offset = static_cast<std::uint32_t>(sector * S);
    std::memset(out, 0, S);
    const std::uint32_t plain[4] = {offset, 0x45565230, static_cast<std::uint32_t>(sector) ^ 0x5A5A0000u, ~offset};
    const std::uint32_t header[4] = {0x64685353, 24, 16, 48000};
    for (int k = 0; k < 4; ++k) put_word(out + 4 * k, k == kind ? header[k] : plain[k]);
    put_word(out + S - 8, offset);
    put_word(out + S - 4, ~offset);
}

}  // namespace

bool write_synthetic_eu_image(const std::string& path, const RebuildTableFiles& tables) {
    std::map<std::uint64_t, int> headers;  // absolute sector -> criterion
    for (std::size_t set = 0; set < 9; ++set) {
        const auto starts = bank_starts(set, tables.bank_sets[set]);
        for (std::size_t i = 1; i < starts.size(); ++i) {
            headers[(BANK_REGIONS[set].offset + starts[i]) / S] = static_cast<int>(i % 4);
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    constexpr std::uint64_t BLOCK = 4096;  // sectors: 8 MiB at a time
    std::vector<std::uint8_t> block(BLOCK * S);
    for (std::uint64_t first = 0; out && first < STAMPED_END / S; first += BLOCK) {
        const std::uint64_t count = std::min(BLOCK, STAMPED_END / S - first);
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto header = headers.find(first + k);
            fill_sector(first + k, header == headers.end() ? -1 : header->second, block.data() + k * S);
        }
        if (BOOT_PATH_OFFSET >= first * S && BOOT_PATH_OFFSET < (first + count) * S) {
            std::memcpy(block.data() + (BOOT_PATH_OFFSET - first * S), BOOT_PATH, sizeof BOOT_PATH);
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count * S));
    }
    out.close();
    std::error_code error;
    if (out) std::filesystem::resize_file(path, SYNTHETIC_EU_SIZE, error);
    return out && !error;
}

std::vector<ExpectedRun> expected_intermediate_layout(const RebuildTableFiles& tables) {
    std::vector<ExpectedRun> runs;
    for (const Step& step : LAYOUT) {
        if (step.kind == ZEROS || step.kind == COPY) runs.push_back({step.length, step.kind == ZEROS, step.offset});
        if (step.kind == RELOCATE) {
            std::uint64_t running = 0;
            for (const TargetRow& target : tables.targets) {
                if (target.sector > running) runs.push_back({(target.sector - running) * S, true, 0});
                const auto source = std::find_if(tables.sources.begin(), tables.sources.end(),
                                                 [&](const SourceRow& s) { return s.name == target.name; });
                const bool missing = source == tables.sources.end();
                runs.push_back({target.size * S, missing, missing ? 0 : (BASE_SECTOR + source->sector) * S});
                running = std::uint64_t{target.sector} + target.size;
            }
        }
        if (step.kind == BANKS) {
            const auto& offsets = tables.bank_sets[step.offset];
            const auto starts = bank_starts(step.offset, offsets);
            for (std::size_t i = 0; i < offsets.size(); ++i) {
                const std::uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : BANK_REGIONS[step.offset].end_value;
                runs.push_back({next - offsets[i], false, BANK_REGIONS[step.offset].offset + starts[i]});
            }
        }
    }
    return runs;
}
