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
bool handler_installed = false;
struct sigaction previous_action {};

void on_bus_error(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (address >= mapped_start.load() && address < mapped_end.load()) {
        // mmap is a plain system call on Linux, safe here in practice.
        void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
        if (mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            mapping_lost.store(1);
            return;
        }
    }
    // Not a page of ours, or no memory left for the zero page (the process then dies as it
    // would have without us): the fault, raised again on return, goes where it went before.
    sigaction(SIGBUS, &previous_action, nullptr);
}

bool install_bus_error_handler() {
    if (handler_installed) return true;
    const long size = sysconf(_SC_PAGESIZE);
    if (size <= 0) return false;
    page_size = static_cast<std::uintptr_t>(size);
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    handler_installed = sigaction(SIGBUS, &action, &previous_action) == 0;
    return handler_installed;
}

}  // namespace

MapResult platform_map_file(std::FILE* stream, std::uint64_t length, FileMapping* mapping) {
    *mapping = FileMapping{};
    // Mapping stands for reading the file: it fails as a read would.
    if (file_call_action(FAULT_READ) != FAULT_ACTION_NONE) return MAP_FAILED_READ;
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
