// Test builds only: make the k-th file operation of a kind fail or fall short, so
// the tests can see how every caller copes with a failing disk.
//
// The functions exist only when ORV_FAULT_INJECTION is defined (the library and
// program variants with the "_faults"/"-faults" suffix). The shipped program has no
// trace of them: platform_fault() below folds to "no fault".
#pragma once

#include <cstdint>

// FAULT_SYNC: a flush to the disk (of a file, or of a folder after a rename).
// FAULT_WRITE_OUT: a range of the output handed to the disk while it is written.
enum FaultOperation { FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_SEEK, FAULT_CLOSE, FAULT_SYNC, FAULT_RENAME,
                      FAULT_WRITE_OUT, FAULT_OPERATION_COUNT };
enum FaultKind { FAULT_FAIL, FAULT_SHORT };

// What the platform layer must do with the call it is about to make.
enum FaultAction { FAULT_ACTION_NONE, FAULT_ACTION_FAIL, FAULT_ACTION_SHORT };

#ifdef ORV_FAULT_INJECTION

// Forgets every armed fault and sets every count to 0; ORV_FAULT is read again at
// the next counted call.
void fault_injection_reset();
// The `nth` call (1-based, counted since the last reset) of `op` fails or falls
// short. One armed fault per operation; arming again replaces it. For operations
// that move no bytes (open, seek, close, sync, rename) FAULT_SHORT acts as FAULT_FAIL.
void fault_injection_arm(FaultOperation op, std::uint64_t nth, FaultKind kind);
// How many calls of `op` were made since the last reset.
std::uint64_t fault_injection_count(FaultOperation op);

// Counts one call of `op` and tells what to do with it. At the first counted call
// after start-up or a reset (or the first fault_injection_arm, which then takes
// precedence) faults are armed from ORV_FAULT, a comma-separated list of
// "operation:nth:kind", e.g. "write:5:fail,read:3:short".
FaultAction fault_injection_next(FaultOperation op);

inline FaultAction platform_fault(FaultOperation op) { return fault_injection_next(op); }

// While set (resets leave it as it is), every file mapping is refused as the system
// may refuse one, so that the readers take their other path.
void fault_injection_refuse_mappings(bool refuse);
bool platform_mappings_refused();

#else

inline FaultAction platform_fault(FaultOperation) { return FAULT_ACTION_NONE; }
inline bool platform_mappings_refused() { return false; }

#endif

// Bytes a short transfer moves: half, and always at least one byte less than asked.
inline std::uint32_t fault_short_count(std::uint32_t count) { return count / 2; }
