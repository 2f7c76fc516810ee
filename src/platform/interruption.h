// The flags shared by the interruption handlers and the file calls.
#pragma once

#include <atomic>

// Set by the handler (a signal handler on Linux, a console control thread on
// Windows): lock-free atomics are safe in both.
inline std::atomic<int> interrupt_raised{0};
inline std::atomic<int> files_guarded{0};
static_assert(std::atomic<int>::is_always_lock_free, "the interruption flags are set from a signal handler");

inline bool interrupt_pending() { return interrupt_raised.load() != 0; }

#include "platform/fault_injection.h"

// What an open, read or write must do: fail once an interruption is pending, or as a
// test's armed fault says (the call is counted either way).
inline FaultAction file_call_action(FaultOperation op) {
    const FaultAction fault = platform_fault(op);
    return interrupt_pending() ? FAULT_ACTION_FAIL : fault;
}
