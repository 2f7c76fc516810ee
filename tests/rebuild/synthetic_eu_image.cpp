#include "synthetic_eu_image.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::uint64_t S = 2048;
constexpr std::uint64_t BASE_SECTOR = 7303;

void put_word(std::uint8_t* at, std::uint32_t word) {
    for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(word >> (8 * k));
}

// The European layout, step by step: a copy (offset, length), zeros (length), the
// relocation block, or bank set k. Transcribed here on its own so that the test
// does not lean on the program's copy.
enum Kind { COPY, ZEROS, RELOCATE, BANKS };
struct Step {
    Kind kind;
    std::uint32_t offset;
    std::uint32_t length;
};
const Step LAYOUT[] = {
    {ZEROS, 0, 720896},         {COPY, 0x26DDB800, 61440},  {COPY, 0x2E3D6800, 61440},
    {COPY, 0x3592A000, 61440},  {COPY, 0x3E5B7800, 24576},  {COPY, 0x43EAC000, 24576},
    {COPY, 0x457C5000, 18432},  {COPY, 0x4680C000, 57344},  {COPY, 0x4C1DF800, 10240},
    {ZEROS, 0, 2048},           {COPY, 0x000B8800, 13522944}, {ZEROS, 0, 137216},
    {ZEROS, 0, 253952},         {ZEROS, 0, 36864},          {ZEROS, 0, 8192},
    {ZEROS, 0, 45056},          {ZEROS, 0, 92160},          {ZEROS, 0, 8192},
    {COPY, 0x00DF9800, 26624},  {COPY, 0x00E3F800, 8192},   {COPY, 0x00E28800, 22528},
    {COPY, 0x00E2E000, 10240},  {COPY, 0x00E30800, 14336},  {COPY, 0x00E19800, 61440},
    {COPY, 0x00DB0000, 24576},  {ZEROS, 0, 22528},          {COPY, 0x00DAC000, 16384},
    {COPY, 0x7AD12800, 3835904}, {COPY, 0x4CE89800, 79792128}, {COPY, 0x51AA2000, 84887552},
    {COPY, 0x58212800, 84903936}, {COPY, 0x5E983000, 84920320}, {COPY, 0x881AC800, 3540992},
    {COPY, 0x7B0BB000, 65013760}, {COPY, 0x7EEBB800, 69175296}, {COPY, 0x83834000, 69142528},
    {COPY, 0x9593F000, 59086848}, {COPY, 0x9921B000, 49899520}, {COPY, 0x9C1E3800, 23224320},
    {COPY, 0x9D83B800, 6313984}, {COPY, 0x26DEA800, 123650048}, {COPY, 0x2E3E5800, 122963968},
    {COPY, 0x35939000, 147318784}, {COPY, 0x3E5BD800, 93251584}, {COPY, 0x43EB2000, 26292224},
    {COPY, 0x457C9800, 17049600}, {COPY, 0x4681A000, 94132224}, {COPY, 0x4C1E2000, 13268992},
    {RELOCATE, 0, 0},           {BANKS, 0, 0},              {BANKS, 1, 0},
    {BANKS, 2, 0},              {BANKS, 3, 0},              {BANKS, 4, 0},
    {BANKS, 5, 0},              {BANKS, 6, 0},              {BANKS, 7, 0},
    {BANKS, 8, 0},              {COPY, 0x0BD42000, 61440},  {COPY, 0x106BF800, 61440},
    {COPY, 0x1544E000, 61440},  {ZEROS, 0, 24576},          {COPY, 0x1E6F2800, 24576},
    {COPY, 0x1F559000, 18432},  {COPY, 0x20526800, 57344},  {COPY, 0x24477000, 20480},
    {COPY, 0x260A7800, 10240},  {ZEROS, 0, 2048},
};
static_assert(sizeof(LAYOUT) / sizeof(LAYOUT[0]) == 68);

// Header sectors of every set, as absolute sectors with the criterion each one meets.
std::vector<std::pair<std::uint64_t, int>> header_sectors(const RebuildTableFiles& tables) {
    std::vector<std::pair<std::uint64_t, int>> headers;
    for (std::size_t set = 0; set < 9; ++set) {
        const auto starts = synthetic_bank_starts(set, tables.bank_sets[set]);
        for (std::size_t i = 1; i < starts.size(); ++i) {
            headers.emplace_back((SYNTHETIC_BANK_REGIONS[set].offset + starts[i]) / S,
                                 static_cast<int>(i % 4));
        }
    }
    std::sort(headers.begin(), headers.end());
    return headers;
}

}  // namespace

const SyntheticBankRegion SYNTHETIC_BANK_REGIONS[9] = {
    {0x0BD51000, 76998656, 74600448}, {0x106CE800, 81262592, 78913536},
    {0x1545D000, 83130368, 80697344}, {0x1A3AA800, 70549504, 69957632},
    {0x1E6F8800, 15075328, 13993984}, {0x1F55D800, 16551936, 15699968},
    {0x20534800, 66332672, 63930368}, {0x2447C000, 29538304, 28602368},
    {0x260AA000, 13834240, 13832192}};

std::vector<std::uint64_t> synthetic_bank_starts(std::size_t set,
                                                 const std::vector<std::uint32_t>& offsets) {
    // Bank i begins 0 to 3 sectors after its target offset: a piece is then cut short
    // of its bank or takes in the start of the next one. Pieces are at least 4 sectors
    // long, so the banks still ascend; the last bank keeps its piece inside the region.
    const SyntheticBankRegion& region = SYNTHETIC_BANK_REGIONS[set];
    std::vector<std::uint64_t> starts;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        std::uint64_t shift = i == 0 ? 0 : (i * 5 + i / 3) % 4;
        if (i + 1 == offsets.size()) shift = std::min<std::uint64_t>(shift, (region.length - region.end_value) / S);
        starts.push_back(offsets[i] + shift * S);
    }
    return starts;
}

void synthetic_sector(std::uint64_t sector, int header_kind, std::uint8_t* out) {
    const auto offset = static_cast<std::uint32_t>(sector * S);
    std::memset(out, 0, S);
    // Ordinary sectors meet no header criterion: word 0 is a multiple of 2048 (never
    // "SShd"), word 1 is a fixed mark, word 2 never 16, word 3 never 48,000.
    put_word(out, offset);
    put_word(out + 4, 0x45565230);
    put_word(out + 8, static_cast<std::uint32_t>(sector) ^ 0x5A5A0000u);
    put_word(out + 12, ~offset);
    switch (header_kind) {
        case 0: put_word(out, 0x64685353); put_word(out + 4, offset); break;  // "SShd"
        case 1: put_word(out + 4, 24); break;
        case 2: put_word(out + 8, 16); break;
        case 3: put_word(out + 12, 48000); break;
        default: break;
    }
    put_word(out + S - 16, offset);
    put_word(out + S - 12, ~offset);
    put_word(out + S - 8, 0x4C494154);
    put_word(out + S - 4, offset ^ 0x12345678u);
}

bool write_synthetic_eu_image(const std::string& path, const RebuildTableFiles& tables) {
    const auto headers = header_sectors(tables);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    constexpr std::uint64_t BLOCK_SECTORS = 4096;  // 8 MiB at a time
    std::vector<std::uint8_t> block(BLOCK_SECTORS * S);
    std::size_t next_header = 0;
    const std::uint64_t sectors = SYNTHETIC_STAMPED_END / S;
    for (std::uint64_t first = 0; first < sectors; first += BLOCK_SECTORS) {
        const std::uint64_t count = std::min(BLOCK_SECTORS, sectors - first);
        for (std::uint64_t k = 0; k < count; ++k) {
            int kind = -1;
            if (next_header < headers.size() && headers[next_header].first == first + k) {
                kind = headers[next_header++].second;
            }
            synthetic_sector(first + k, kind, block.data() + k * S);
        }
        if (SYNTHETIC_BOOT_PATH_OFFSET >= first * S && SYNTHETIC_BOOT_PATH_OFFSET < (first + count) * S) {
            std::memcpy(block.data() + (SYNTHETIC_BOOT_PATH_OFFSET - first * S), SYNTHETIC_BOOT_PATH,
                        sizeof SYNTHETIC_BOOT_PATH);
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count * S));
    }
    out.close();
    if (!out) return false;
    std::error_code error;
    std::filesystem::resize_file(path, SYNTHETIC_EU_SIZE, error);
    return !error;
}

std::vector<ExpectedRun> expected_intermediate_layout(const RebuildTableFiles& tables) {
    std::vector<ExpectedRun> runs;
    for (const Step& step : LAYOUT) {
        switch (step.kind) {
            case ZEROS: runs.push_back({step.length, true, 0}); break;
            case COPY: runs.push_back({step.length, false, step.offset}); break;
            case RELOCATE: {
                std::uint64_t running = 0;
                for (const TargetRow& target : tables.targets) {
                    if (target.sector > running) runs.push_back({(target.sector - running) * S, true, 0});
                    const auto source = std::find_if(tables.sources.begin(), tables.sources.end(),
                                                     [&](const SourceRow& s) { return s.name == target.name; });
                    if (source == tables.sources.end()) {
                        runs.push_back({target.size * S, true, 0});
                    } else {
                        runs.push_back({target.size * S, false, (BASE_SECTOR + source->sector) * S});
                    }
                    running = std::uint64_t{target.sector} + target.size;
                }
                break;
            }
            case BANKS: {
                const std::size_t set = step.offset;
                const auto& offsets = tables.bank_sets[set];
                const auto starts = synthetic_bank_starts(set, offsets);
                for (std::size_t i = 0; i < offsets.size(); ++i) {
                    const std::uint32_t next = i + 1 < offsets.size() ? offsets[i + 1]
                                                                      : SYNTHETIC_BANK_REGIONS[set].end_value;
                    runs.push_back({next - offsets[i], false, SYNTHETIC_BANK_REGIONS[set].offset + starts[i]});
                }
                break;
            }
        }
    }
    return runs;
}
