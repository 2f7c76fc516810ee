#include "rebuild/table_facts.h"

#include <algorithm>
#include <map>
#include <set>

#include "rebuild/rebuild_script.h"
#include "rebuild/rebuild_steps.h"

namespace {

constexpr std::uint64_t SECTOR = 2048;
constexpr std::uint32_t COPY_CHUNK_SECTORS = 10240;  // 20 MiB

struct BankSetFacts {
    std::size_t entries;
    std::uint32_t end, second, third, last, smallest, largest;
};
constexpr BankSetFacts BANK_SET_FACTS[9] = {{1001, 74600448, 40960, 157696, 74510336, 10240, 264192},
                                            {1000, 78913536, 38912, 153600, 78804992, 12288, 245760},
                                            {1000, 80697344, 38912, 176128, 80652288, 10240, 268288},
                                            {400, 69957632, 69632, 215040, 68978688, 12288, 8855552},
                                            {388, 13993984, 32768, 65536, 13975552, 10240, 137216},
                                            {307, 15699968, 16384, 38912, 15656960, 8192, 192512},
                                            {942, 63930368, 51200, 116736, 63178752, 14336, 792576},
                                            {338, 28602368, 90112, 180224, 28481536, 8192, 231424},
                                            {148, 13832192, 591872, 620544, 12890112, 28672, 942080}};

std::string join(const std::vector<std::uint64_t>& values) {
    std::string text;
    for (const std::uint64_t v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
}

struct Checker {
    std::vector<FactFailure> failures;
    // Records a failure when `found` differs from `expected`; true when they agree.
    bool same(const std::string& fact, const std::string& found, const std::string& expected) {
        if (found != expected) failures.push_back({fact, found, expected});
        return found == expected;
    }
    void fail(const std::string& fact, const std::string& found, const std::string& expected) {
        failures.push_back({fact, found, expected});
    }
};

// "res 951, fpack 632, ...": runs of equal top-level folders, in order.
template <typename Row>
std::string folder_runs(const std::vector<Row>& rows) {
    std::vector<std::pair<std::string, std::size_t>> runs;
    for (const Row& row : rows) {
        const std::string folder = row.name.substr(0, row.name.find('/'));
        if (runs.empty() || runs.back().first != folder) runs.emplace_back(folder, 0);
        ++runs.back().second;
    }
    std::string text;
    for (const auto& [folder, count] : runs) text += (text.empty() ? "" : ", ") + folder + " " + std::to_string(count);
    return text;
}

void check_names(Checker& c, const RebuildTableFiles& t) {
    c.same("target folders", folder_runs(t.targets), "res 951, fpack 632, vpackj 8, modules 3");
    c.same("source folders", folder_runs(t.sources), "fpack 632, modules 3, res 951, vpackj 8");
    std::map<std::string, int> seen;  // +1 per target, +16 per source: 17 is once in each
    for (const TargetRow& r : t.targets) seen[r.name] += 1;
    for (const SourceRow& r : t.sources) seen[r.name] += 16;
    for (const auto& [name, tally] : seen) {
        if (!name_fits_table_shape(name)) {
            c.fail("name shape", "'" + name + "'", "12 to 39 characters of A-Z a-z 0-9 _ . - with 1 to 3 '/'");
            break;
        }
    }
    for (const auto& [name, tally] : seen) {
        if (tally != 17) {
            c.fail("names once each", "'" + name + "' " + std::to_string(tally & 15) + " times among the targets and " +
                                          std::to_string(tally >> 4) + " among the sources",
                   "each name once in each list");
            break;
        }
    }
}

void check_targets(Checker& c, const std::vector<TargetRow>& targets) {
    std::vector<std::uint64_t> gaps;  // index, from, to
    std::uint64_t running = 0, total = 0, over_a_chunk = 0;
    bool in_order = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const TargetRow& t = targets[i];
        if (t.sector < running && in_order) {
            c.fail("target order", "target " + std::to_string(i) + " at sector " + std::to_string(t.sector),
                   "at or after sector " + std::to_string(running) + ", the end of the one before");
            in_order = false;
        }
        if (t.size < 1 || t.size > 71933) {
            c.fail("target sizes", "'" + t.name + "' of " + std::to_string(t.size) + " sectors", "1 to 71933 sectors");
        }
        if (t.sector > running) gaps.insert(gaps.end(), {i, running, t.sector});
        over_a_chunk += t.size > COPY_CHUNK_SECTORS ? 1 : 0;
        total += t.size;
        running = std::max(running, std::uint64_t{t.sector} + t.size);
    }
    c.same("target gaps (index, from, to)", join(gaps),
           "0, 0, 366, 650, 3739, 7937, 1245, 16913, 17048, 1287, 30401, 30504, 1400, 57082, 57317");
    c.same("target size total", std::to_string(total), "396376");
    c.same("files over 20 MiB", std::to_string(over_a_chunk), "6");
    const TargetRow last = targets.empty() ? TargetRow{} : targets.back();
    c.same("last target (sector, size)", join({last.sector, last.size}), "401405, 8");
    c.same("block end", std::to_string(running), std::to_string(RELOCATED_BLOCK_SECTORS));
}

void check_sources(Checker& c, const RebuildTableFiles& t) {
    const auto& src = t.sources;
    std::map<std::string, std::uint32_t> size_of;
    for (const TargetRow& r : t.targets) size_of[r.name] = r.size;
    std::uint64_t with_room_to_spare = 0;
    bool in_order = true;
    for (std::size_t j = 0; j < src.size(); ++j) {
        const std::uint64_t size = size_of[src[j].name];
        const std::uint64_t end = RELOCATION_BASE_SECTOR + std::uint64_t{src[j].sector} + size;
        if (end * SECTOR > EUROPEAN_IMAGE_SIZE) {
            c.fail("source inside the image", "'" + src[j].name + "' ends at sector " + std::to_string(end),
                   "at most sector " + std::to_string(EUROPEAN_IMAGE_SIZE / SECTOR));
        }
        if (j + 1 == src.size()) break;
        if (src[j].sector >= src[j + 1].sector) {
            if (in_order) {
                c.fail("source order", "source " + std::to_string(j + 1) + " at sector " +
                       std::to_string(src[j + 1].sector), "above sector " + std::to_string(src[j].sector));
            }
            in_order = false;
            continue;
        }
        const std::uint64_t room = src[j + 1].sector - src[j].sector;
        if (size > room) {
            c.fail("source room", "'" + src[j].name + "' of " + std::to_string(size) + " sectors",
                   "at most the " + std::to_string(room) + " sectors before the next source");
        }
        with_room_to_spare += size < room ? 1 : 0;
    }
    c.same("sources with room to spare", std::to_string(with_room_to_spare), "20");
    if (!c.same("source count", std::to_string(src.size()), "1594")) return;
    c.same("source sectors (entries 0-4, 1592, 1593)",
           join({src[0].sector, src[1].sector, src[2].sector, src[3].sector, src[4].sector, src[1592].sector,
                 src[1593].sector}),
           "0, 35, 298, 546, 794, 570285, 616253");
    // The block opens with the file of source entry 646.
    const TargetRow first = t.targets.empty() ? TargetRow{} : t.targets[0];
    c.same("first target (sector, size, is source entry 646, its byte)",
           join({first.sector, first.size, first.name == src[646].name,
                 (RELOCATION_BASE_SECTOR + std::uint64_t{src[646].sector}) * SECTOR}),
           join({366, 2, 1, 0x0AB18000}));
    // The vpackj files are the ranges of steps 41 to 48.
    std::vector<std::uint64_t> found, expected;
    for (std::size_t k = 0; k < 8; ++k) {
        const RebuildStep& step = REBUILD_STEPS[40 + k];
        const SourceRow& source = src[1586 + k];
        found.insert(found.end(), {(RELOCATION_BASE_SECTOR + std::uint64_t{source.sector}) * SECTOR,
                                   size_of[source.name] * SECTOR});
        expected.insert(expected.end(), {step.source_offset, step.length});
    }
    c.same("vpackj rows (byte, length) = steps 41 to 48", join(found), join(expected));
}

void check_bank_sets(Checker& c, const RebuildTableFiles& t) {
    if (!c.same("bank set count", std::to_string(t.bank_sets.size()), "9")) return;
    for (std::size_t k = 0; k < 9; ++k) {
        const auto& offsets = t.bank_sets[k];
        const BankSetFacts& e = BANK_SET_FACTS[k];
        const RebuildStep& step = REBUILD_STEPS[FIRST_BANK_STEP + k];
        const std::string set = "bank set " + std::to_string(k + 1);
        c.same(set + " end value", join({step.end_value, step.end_value < step.length}), join({e.end, 1}));
        if (!c.same(set + " entries", std::to_string(offsets.size()), std::to_string(e.entries))) continue;
        c.same(set + " first three and last", join({offsets[0], offsets[1], offsets[2], offsets.back()}),
               join({0, e.second, e.third, e.last}));
        std::uint32_t smallest = UINT32_MAX, largest = 0;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            const std::uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : e.end;
            if (offsets[i] % SECTOR != 0 || next <= offsets[i]) {
                c.fail(set + " order", "entry " + std::to_string(i) + " = " + std::to_string(offsets[i]),
                       "a multiple of 2048 below " + std::to_string(next));
                break;
            }
            smallest = std::min(smallest, next - offsets[i]);
            largest = std::max(largest, next - offsets[i]);
        }
        c.same(set + " smallest and largest piece", join({smallest, largest}), join({e.smallest, e.largest}));
    }
}

}  // namespace

std::uint64_t rebuild_step_output_offset(std::size_t step_index) {
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < step_index && i < REBUILD_STEP_COUNT; ++i) {
        const RebuildStep& step = REBUILD_STEPS[i];
        switch (step.kind) {
            case RebuildStepKind::RELOCATE: offset += std::uint64_t{RELOCATED_BLOCK_SECTORS} * SECTOR; break;
            case RebuildStepKind::SOUND_BANKS: offset += step.end_value; break;
            default: offset += step.length; break;
        }
    }
    return offset;
}

bool name_fits_table_shape(const std::string& name) {
    if (name.size() < 12 || name.size() > 39 || name.front() == '/' || name.back() == '/') return false;
    std::size_t separators = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        if (ch == '/') {
            if (name[i - 1] == '/') return false;
            ++separators;
        } else if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                     ch == '.' || ch == '-')) {
            return false;
        }
    }
    return separators >= 1 && separators <= 3;
}

std::vector<FactFailure> check_table_facts(const RebuildTableFiles& tables) {
    Checker c;
    c.same("relocated block byte", std::to_string(rebuild_step_output_offset(FIRST_BANK_STEP - 1)),
           std::to_string(std::uint64_t{RELOCATED_BLOCK_FIRST_SECTOR} * SECTOR));
    check_names(c, tables);
    check_targets(c, tables.targets);
    check_sources(c, tables);
    check_bank_sets(c, tables);
    return c.failures;
}
