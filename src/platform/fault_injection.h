// Test builds only: make the k-th call of a file operation on one kind of file fail or
// fall short, so the tests can see how every caller copes with a failing disk.
//
// Calls are counted per operation and per role, the part a file plays in the run, read
// from its name: a fault then names the file it hits, whatever the order of the calls on
// other files or of a folder listing.
//
// The functions exist only when ORV_FAULT_INJECTION is defined (the library and
// program variants with the "_faults"/"-faults" suffix). The shipped program has no
// trace of them: the inline stand-ins below fold to "no fault" and do nothing.
#pragma once

#include <cstdint>
#include <cstdio>

// FAULT_SYNC: a flush to the disk (of a file, or of a folder after a rename).
// FAULT_WRITE_OUT: a range of the output handed to the disk while it is written.
enum FaultOperation { FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_SEEK, FAULT_CLOSE, FAULT_SYNC, FAULT_RENAME,
                      FAULT_WRITE_OUT, FAULT_OPERATION_COUNT };
// From the name, letters in any case: ROLE_PART "..._patched.iso.part", ROLE_OUTPUT
// "..._patched.iso", ROLE_TEMP "..._temp.iso", ROLE_IMAGE any other ".iso", ROLE_PATCH
// ".xdelta"; ROLE_FOLDER the folder synced after a rename. ROLE_ANY, in an armed fault or
// a count, stands for every role.
enum FaultRole { ROLE_OTHER, ROLE_IMAGE, ROLE_TEMP, ROLE_PART, ROLE_OUTPUT, ROLE_PATCH, ROLE_FOLDER,
                 FAULT_ROLE_COUNT, ROLE_ANY = FAULT_ROLE_COUNT };
enum FaultKind { FAULT_FAIL, FAULT_SHORT };

// What the platform layer must do with the call it is about to make.
enum FaultAction { FAULT_ACTION_NONE, FAULT_ACTION_FAIL, FAULT_ACTION_SHORT };

#ifdef ORV_FAULT_INJECTION

// Forgets every armed fault and sets every count to 0; the environment is read again at
// the next counted call. Open files keep their roles.
void fault_injection_reset();
// The `nth` call (1-based, counted since the last reset) of `op` on a file of `role`
// fails or falls short. Arming the same operation and role again replaces the fault. For
// operations that move no bytes (open, seek, close, sync, rename) FAULT_SHORT acts as
// FAULT_FAIL.
void fault_injection_arm(FaultOperation op, FaultRole role, std::uint64_t nth, FaultKind kind);
// How many calls of `op` on files of `role` were made since the last reset.
std::uint64_t fault_injection_count(FaultOperation op, FaultRole role);
// How many flushes of a file of `role` (ROLE_FOLDER: of a renamed name) the system
// confirmed since the last reset.
std::uint64_t fault_injection_synced(FaultRole role);

// Counts one call of `op` on a file of `role` and tells what to do with it. At the first
// counted call after start-up or a reset (or the first fault_injection_arm, which then
// takes precedence) the environment is read: ORV_FAULT, a comma-separated list of
// "operation:role:nth:kind" ("write:temp:5:fail,read:patch:3:short"); ORV_FAULT_COUNTS=FILE,
// where the counts are written at a normal exit ("close part 1", "synced folder 1").
FaultAction fault_injection_next(FaultOperation op, FaultRole role);

FaultRole fault_role_of_name(const char* path);
// The role of a file opened by the platform layer, noted when it was opened.
FaultRole fault_role_of_descriptor(int fd);
FaultRole fault_role_of_stream(std::FILE* stream);
void fault_note_opened(int fd, const char* path);
void fault_note_opened(std::FILE* stream, const char* path);
void fault_note_closed(int fd);
void fault_note_closed(std::FILE* stream);
// Takes the system's answer to a flush to the disk, `confirmed`, and counts it when true.
bool fault_count_sync(FaultRole role, bool confirmed);

inline FaultAction platform_fault(FaultOperation op, FaultRole role) { return fault_injection_next(op, role); }

// While set (resets leave it as it is), every file mapping is refused as the system
// may refuse one, so that the readers take their other path.
void fault_injection_refuse_mappings(bool refuse);
bool platform_mappings_refused();

#else

inline FaultAction platform_fault(FaultOperation, FaultRole) { return FAULT_ACTION_NONE; }
inline FaultRole fault_role_of_name(const char*) { return ROLE_OTHER; }
inline FaultRole fault_role_of_descriptor(int) { return ROLE_OTHER; }
inline FaultRole fault_role_of_stream(std::FILE*) { return ROLE_OTHER; }
inline void fault_note_opened(int, const char*) {}
inline void fault_note_opened(std::FILE*, const char*) {}
inline void fault_note_closed(int) {}
inline void fault_note_closed(std::FILE*) {}
inline bool fault_count_sync(FaultRole, bool confirmed) { return confirmed; }
inline bool platform_mappings_refused() { return false; }

#endif

// Bytes a short transfer moves: half, and always at least one byte less than asked.
inline std::uint32_t fault_short_count(std::uint32_t count) { return count / 2; }
