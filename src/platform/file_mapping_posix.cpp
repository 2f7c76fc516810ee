// File mappings over mmap. A mapped file that another program shortens raises
// SIGBUS at the next touch of a page past its new end (so does a page the disk
// cannot read); the handler puts a page of zeros in its place and raises a flag, so
// the reader ends on its ordinary failure path instead of the process dying.
#include "platform/file_mapping.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

#include "platform/interruption.h"

namespace {

std::atomic<std::uintptr_t> mapped_start{0};
std::atomic<std::uintptr_t> mapped_end{0};
std::atomic<int> mapping_lost{0};
std::uintptr_t page_size = 4096;
struct sigaction previous_action {};

// A SIGBUS that is not a lost page of ours goes where it would have gone without us.
void pass_on(int signal_number, siginfo_t* info, void* context) {
    // Sent by a process (kill, raise: si_code 0 or below) rather than raised by a fault.
    const bool sent = info->si_code <= 0;
    if (previous_action.sa_handler == SIG_IGN && sent) return;
    if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != SIG_IGN) {
        // Another handler's: called as the system would have called it; ours stays.
        if ((previous_action.sa_flags & SA_SIGINFO) != 0) {
            previous_action.sa_sigaction(signal_number, info, context);
        } else {
            previous_action.sa_handler(signal_number);
        }
        return;
    }
    // The default action, which ends the process (a fault cannot be ignored either): a
    // sent signal is raised again and arrives once this returns; a fault recurs then.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(SIGBUS, &default_action, nullptr);
    if (sent) raise(SIGBUS);
}

void on_bus_error(int signal_number, siginfo_t* info, void* context) {
    // Only a fault fills in the address (for a sent signal the field holds a process id).
    if (info->si_code > 0) {
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        if (address >= mapped_start.load() && address < mapped_end.load()) {
            // mmap is a plain system call on Linux, safe here in practice.
            void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
            if (mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                mapping_lost.store(1);
                return;
            }
            // No memory left for the zero page: the process ends as it would have without us.
        }
    }
    pass_on(signal_number, info, context);
}

// Installed again whenever it is no longer there (another part of the process, or the
// default action taken back by pass_on, replaced it).
bool install_bus_error_handler() {
    struct sigaction current {};
    if (sigaction(SIGBUS, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == on_bus_error) return true;
    const long size = sysconf(_SC_PAGESIZE);
    if (size <= 0) return false;
    page_size = static_cast<std::uintptr_t>(size);
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    return sigaction(SIGBUS, &action, &previous_action) == 0;
}

}  // namespace

MapResult platform_map_file(std::FILE* stream, std::uint64_t length, FileMapping* mapping) {
    *mapping = FileMapping{};
    // Refused before anything is counted, as on a system that never maps.
    if (platform_mappings_refused()) return MAP_UNAVAILABLE;
    // Mapping stands for reading the file: it fails as a read would.
    if (file_call_action(FAULT_READ, fault_role_of_stream(stream)) != FAULT_ACTION_NONE) return MAP_FAILED_READ;
    if (length == 0 || length > SIZE_MAX || !install_bus_error_handler()) return MAP_UNAVAILABLE;
    void* bytes = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_PRIVATE, fileno(stream), 0);
    if (bytes == MAP_FAILED) return MAP_UNAVAILABLE;
    madvise(bytes, static_cast<std::size_t>(length), MADV_SEQUENTIAL);
    mapping->bytes = static_cast<const std::uint8_t*>(bytes);
    mapping->length = length;
    mapping_lost.store(0);
    mapped_start.store(reinterpret_cast<std::uintptr_t>(bytes));
    mapped_end.store(reinterpret_cast<std::uintptr_t>(bytes) + static_cast<std::size_t>(length));
    return MAP_DONE;
}

void platform_forget_mapped_pages(const FileMapping* mapping) {
    if (mapping->bytes == nullptr) return;
    madvise(const_cast<std::uint8_t*>(mapping->bytes), static_cast<std::size_t>(mapping->length), MADV_DONTNEED);
}

void platform_unmap_file(FileMapping* mapping) {
    if (mapping->bytes == nullptr) return;
    mapped_start.store(0);
    mapped_end.store(0);
    munmap(const_cast<std::uint8_t*>(mapping->bytes), static_cast<std::size_t>(mapping->length));
    *mapping = FileMapping{};
}

bool platform_mapping_lost() { return mapping_lost.load() != 0; }
