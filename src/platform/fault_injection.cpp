// Counting and arming of injected file faults (test builds only).
#ifdef ORV_FAULT_INJECTION

#include "platform/fault_injection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

struct ArmedFault {
    FaultOperation op;
    FaultRole role;     // ROLE_ANY: calls on every file
    std::uint64_t nth;  // 0: nothing armed
    FaultKind kind;
};

constexpr int MAX_ARMED = 16;

struct FaultTable {
    bool environment_read;
    std::uint64_t counts[FAULT_OPERATION_COUNT][FAULT_ROLE_COUNT + 1];   // the last column: every role
    std::uint64_t synced[FAULT_ROLE_COUNT];
    ArmedFault armed[MAX_ARMED];
};

FaultTable g_faults{};
bool g_mappings_refused = false;

const char* const OPERATION_NAMES[FAULT_OPERATION_COUNT] = {"open", "read", "write", "seek", "close", "sync", "rename",
                                                              "writeout"};
const char* const ROLE_NAMES[FAULT_ROLE_COUNT + 1] = {"other", "image", "temp", "part", "output", "patch", "folder",
                                                      "any"};

// The index of `word` in `names`, or -1.
int index_of(std::string_view word, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (word == names[i]) return i;
    }
    return -1;
}

void arm(const ArmedFault& fault) {
    for (ArmedFault& slot : g_faults.armed) {
        if (slot.nth == 0 || (slot.op == fault.op && slot.role == fault.role)) {
            slot = fault;
            return;
        }
    }
}

// One "operation:role:nth:kind" item.
bool arm_from_item(std::string_view item) {
    std::string_view fields[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t colon = item.find(':');
        if ((colon == std::string_view::npos) != (i == 3)) return false;
        fields[i] = item.substr(0, colon);
        item.remove_prefix(colon == std::string_view::npos ? item.size() : colon + 1);
    }
    const int op = index_of(fields[0], OPERATION_NAMES, FAULT_OPERATION_COUNT);
    const int role = index_of(fields[1], ROLE_NAMES, FAULT_ROLE_COUNT + 1);
    const int kind = fields[3] == "fail" ? FAULT_FAIL : fields[3] == "short" ? FAULT_SHORT : -1;
    std::uint64_t nth = 0;
    for (const char c : fields[2]) {
        if (c < '0' || c > '9' || nth > (UINT64_MAX - 9) / 10) return false;
        nth = nth * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (op < 0 || role < 0 || kind < 0 || nth == 0) return false;
    arm({static_cast<FaultOperation>(op), static_cast<FaultRole>(role), nth, static_cast<FaultKind>(kind)});
    return true;
}

void arm_from_environment() {
    const char* armed = std::getenv("ORV_FAULT");
    if (armed == nullptr) return;
    std::string_view items = armed;
    while (!items.empty()) {
        const std::size_t comma = items.find(',');
        const std::string_view item = items.substr(0, comma);
        if (!item.empty() && !arm_from_item(item)) {
            // A typo here would silently test nothing: say so.
            std::fprintf(stderr, "ORV_FAULT: ignoring malformed item \"%.*s\"\n", static_cast<int>(item.size()),
                         item.data());
        }
        items.remove_prefix(comma == std::string_view::npos ? items.size() : comma + 1);
    }
}

// With ORV_FAULT_COUNTS=FILE the program writes, when it exits normally, how many calls of
// each operation it made on each role of file ("read patch 3"), and how many flushes the
// system confirmed ("synced part 1"): a test walking every call of a whole run learns from
// one clean run how far to walk, and sees what reached the disk.
void write_counts_at_exit() {
    const char* path = std::getenv("ORV_FAULT_COUNTS");
    std::FILE* out = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (out == nullptr) return;
    for (int role = 0; role < FAULT_ROLE_COUNT; ++role) {
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
            const unsigned long long count = g_faults.counts[op][role];
            if (count != 0) std::fprintf(out, "%s %s %llu\n", OPERATION_NAMES[op], ROLE_NAMES[role], count);
        }
        const unsigned long long synced = g_faults.synced[role];
        if (synced != 0) std::fprintf(out, "synced %s %llu\n", ROLE_NAMES[role], synced);
    }
    std::fclose(out);
}

// Every switch the environment gives the fault build is read here, once per reset.
void read_environment_once() {
    if (g_faults.environment_read) return;
    g_faults.environment_read = true;
    arm_from_environment();
    static bool report_registered = false;
    if (!report_registered && std::getenv("ORV_FAULT_COUNTS") != nullptr) {
        report_registered = true;
        std::atexit(write_counts_at_exit);
    }
}

bool valid(FaultOperation op, FaultRole role) {
    return op >= 0 && op < FAULT_OPERATION_COUNT && role >= 0 && role <= ROLE_ANY;
}

}  // namespace

void fault_injection_reset() { g_faults = FaultTable{}; }

void fault_injection_refuse_mappings(bool refuse) { g_mappings_refused = refuse; }

bool platform_mappings_refused() { return g_mappings_refused; }

void fault_injection_arm(FaultOperation op, FaultRole role, std::uint64_t nth, FaultKind kind) {
    if (!valid(op, role)) return;
    // The environment is read first, so that a fault armed here takes precedence.
    read_environment_once();
    arm({op, role, nth, kind});
}

std::uint64_t fault_injection_count(FaultOperation op, FaultRole role) {
    return valid(op, role) ? g_faults.counts[op][role] : 0;
}

std::uint64_t fault_injection_synced(FaultRole role) {
    return role >= 0 && role < FAULT_ROLE_COUNT ? g_faults.synced[role] : 0;
}

bool fault_count_sync(FaultRole role, bool confirmed) {
    if (confirmed && role >= 0 && role < FAULT_ROLE_COUNT) ++g_faults.synced[role];
    return confirmed;
}

FaultAction fault_injection_next(FaultOperation op, FaultRole role) {
    read_environment_once();
    if (!valid(op, role) || role == ROLE_ANY) return FAULT_ACTION_NONE;
    ++g_faults.counts[op][role];
    ++g_faults.counts[op][ROLE_ANY];
    for (const ArmedFault& armed : g_faults.armed) {
        if (armed.nth == 0 || armed.op != op || (armed.role != role && armed.role != ROLE_ANY)) continue;
        if (armed.nth != g_faults.counts[op][armed.role]) continue;
        const bool moves_bytes = op == FAULT_READ || op == FAULT_WRITE;
        return armed.kind == FAULT_SHORT && moves_bytes ? FAULT_ACTION_SHORT : FAULT_ACTION_FAIL;
    }
    return FAULT_ACTION_NONE;
}

#endif
