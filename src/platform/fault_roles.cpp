// The role of each file the fault injection counts: from its name, noted once when the
// file is opened (test builds only).
#ifdef ORV_FAULT_INJECTION

#include <cstring>

#include "platform/fault_injection.h"

namespace {

// Descriptors are small numbers; one outside these counts as ROLE_OTHER.
constexpr int TRACKED_DESCRIPTORS = 4096;
FaultRole g_descriptor_roles[TRACKED_DESCRIPTORS]{};

bool tracked(int fd) { return fd >= 0 && fd < TRACKED_DESCRIPTORS; }

bool ends_with_any_case(const char* text, std::size_t length, const char* ending) {
    const std::size_t size = std::strlen(ending);
    if (length < size) return false;
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[length - size + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i]) return false;
    }
    return true;
}

int descriptor_of(std::FILE* stream) {
#ifdef _WIN32
    return _fileno(stream);
#else
    return fileno(stream);
#endif
}

}  // namespace

FaultRole fault_role_of_name(const char* path) {
    const std::size_t length = std::strlen(path);
    // Longest ending first: a part file's name also ends in ".part" after "_patched.iso".
    const struct {
        const char* ending;
        FaultRole role;
    } roles[] = {{"_patched.iso.part", ROLE_PART}, {"_patched.iso", ROLE_OUTPUT}, {"_temp.iso", ROLE_TEMP},
                 {".iso", ROLE_IMAGE}, {".xdelta", ROLE_PATCH}};
    for (const auto& known : roles) {
        if (ends_with_any_case(path, length, known.ending)) return known.role;
    }
    return ROLE_OTHER;
}

FaultRole fault_role_of_descriptor(int fd) {
    return tracked(fd) ? g_descriptor_roles[fd] : ROLE_OTHER;
}

FaultRole fault_role_of_stream(std::FILE* stream) { return fault_role_of_descriptor(descriptor_of(stream)); }

void fault_note_opened(int fd, const char* path) {
    if (tracked(fd)) g_descriptor_roles[fd] = fault_role_of_name(path);
}

void fault_note_opened(std::FILE* stream, const char* path) {
    if (stream != nullptr) fault_note_opened(descriptor_of(stream), path);
}

void fault_note_closed(int fd) {
    if (tracked(fd)) g_descriptor_roles[fd] = ROLE_OTHER;
}

void fault_note_closed(std::FILE* stream) { fault_note_closed(descriptor_of(stream)); }

#endif
