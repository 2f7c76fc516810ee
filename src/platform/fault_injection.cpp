// Counting and arming of injected file faults (test builds only).
#ifdef ORV_FAULT_INJECTION

#include "platform/fault_injection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ArmedFault {
    std::uint64_t nth;  // 0: nothing armed
    FaultKind kind;
};

struct FaultTable {
    bool environment_read;
    std::uint64_t counts[FAULT_OPERATION_COUNT];
    ArmedFault armed[FAULT_OPERATION_COUNT];
};

FaultTable g_faults{};
bool g_mappings_refused = false;

const char* const OPERATION_NAMES[FAULT_OPERATION_COUNT] = {"open", "read", "write", "seek", "close", "sync", "rename",
                                                              "writeout"};

bool parse_operation(const char* text, std::size_t length, FaultOperation* op) {
    for (int i = 0; i < FAULT_OPERATION_COUNT; ++i) {
        const char* name = OPERATION_NAMES[i];
        if (std::strlen(name) == length && std::strncmp(name, text, length) == 0) {
            *op = static_cast<FaultOperation>(i);
            return true;
        }
    }
    return false;
}

bool parse_kind(const char* text, std::size_t length, FaultKind* kind) {
    if (length == 4 && std::strncmp(text, "fail", 4) == 0) {
        *kind = FAULT_FAIL;
        return true;
    }
    if (length == 5 && std::strncmp(text, "short", 5) == 0) {
        *kind = FAULT_SHORT;
        return true;
    }
    return false;
}

// One "operation:nth:kind" item of `length` characters.
bool arm_from_item(const char* item, std::size_t length) {
    std::size_t first = 0;
    while (first < length && item[first] != ':') ++first;
    std::size_t second = first + 1;
    while (second < length && item[second] != ':') ++second;
    if (first >= length || second >= length || second == first + 1) return false;

    FaultOperation op{};
    FaultKind kind{};
    if (!parse_operation(item, first, &op)) return false;
    if (!parse_kind(item + second + 1, length - second - 1, &kind)) return false;
    std::uint64_t nth = 0;
    for (std::size_t i = first + 1; i < second; ++i) {
        const char c = item[i];
        if (c < '0' || c > '9' || nth > (UINT64_MAX - 9) / 10) return false;
        nth = nth * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (nth == 0) return false;
    g_faults.armed[op] = ArmedFault{nth, kind};
    return true;
}

void arm_from_environment() {
    const char* armed = std::getenv("ORV_FAULT");
    if (armed == nullptr) return;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (armed[end] != '\0' && armed[end] != ',') ++end;
        if (end > start && !arm_from_item(armed + start, end - start)) {
            // A typo here would silently test nothing: say so.
            std::fprintf(stderr, "ORV_FAULT: ignoring malformed item \"%.*s\"\n",
                         static_cast<int>(end - start), armed + start);
        }
        if (armed[end] == '\0') return;
        start = end + 1;
    }
}

// With ORV_FAULT_COUNTS=FILE the program writes, when it exits normally, how many
// calls of each kind it made ("open 6\nread 31\n..."): a test walking every k of a
// whole run learns from one clean run how far to walk.
void write_counts_at_exit() {
    const char* path = std::getenv("ORV_FAULT_COUNTS");
    if (path == nullptr) return;
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) return;
    for (int i = 0; i < FAULT_OPERATION_COUNT; ++i) {
        std::fprintf(out, "%s %llu\n", OPERATION_NAMES[i], static_cast<unsigned long long>(g_faults.counts[i]));
    }
    std::fclose(out);
}

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

}  // namespace

void fault_injection_reset() { g_faults = FaultTable{}; }

void fault_injection_refuse_mappings(bool refuse) { g_mappings_refused = refuse; }

bool platform_mappings_refused() { return g_mappings_refused; }

void fault_injection_arm(FaultOperation op, std::uint64_t nth, FaultKind kind) {
    if (op < 0 || op >= FAULT_OPERATION_COUNT) return;
    // The environment is read first, so that a fault armed here takes precedence.
    read_environment_once();
    g_faults.armed[op] = ArmedFault{nth, kind};
}

std::uint64_t fault_injection_count(FaultOperation op) {
    if (op < 0 || op >= FAULT_OPERATION_COUNT) return 0;
    return g_faults.counts[op];
}

FaultAction fault_injection_next(FaultOperation op) {
    read_environment_once();
    if (op < 0 || op >= FAULT_OPERATION_COUNT) return FAULT_ACTION_NONE;
    const std::uint64_t call = ++g_faults.counts[op];
    const ArmedFault armed = g_faults.armed[op];
    if (armed.nth == 0 || armed.nth != call) return FAULT_ACTION_NONE;
    const bool moves_bytes = op == FAULT_READ || op == FAULT_WRITE;
    return armed.kind == FAULT_SHORT && moves_bytes ? FAULT_ACTION_SHORT : FAULT_ACTION_FAIL;
}

#endif
