// Source blocks for the patch driver, out of a mapping or out of pages read whole.
#include "vcdiff/source_reader.h"

#include <algorithm>
#include <cstdlib>

#include "platform/platform.h"
#include "vcdiff/apply_patch.h"

namespace {

static_assert(SOURCE_PAGE_SIZE % SOURCE_BLOCK_SIZE == 0, "a block never straddles two pages");

constexpr std::uint64_t UNKNOWN_POSITION = ~std::uint64_t{0};
// Touched pages of the mapping count as the program's memory: give them back after
// this many bytes (the file stays in the system's cache).
constexpr std::uint64_t RESIDENT_LIMIT = 16u << 20;
// A jump to a far block maps this much around it at once.
constexpr std::uint64_t FAULT_AROUND = 64u << 10;

int failed(const char** message, const char* text) {
    *message = text;
    return APPLY_SOURCE_READ_FAILED;
}

// Counts what a block out of the mapping makes resident, and gives it all back
// once that reaches the limit.
void account_mapped_block(SourceReader* reader, std::uint64_t number, std::uint64_t block_size) {
    reader->resident_bytes += number == reader->previous_block + 1 ? block_size : FAULT_AROUND + block_size;
    reader->previous_block = number;
    if (reader->resident_bytes >= RESIDENT_LIMIT) {
        platform_forget_mapped_pages(&reader->mapping);
        reader->resident_bytes = 0;
    }
}

// Reads file page `page` into the least recently used slot and makes it current.
int read_page(SourceReader* reader, std::uint64_t page, const char** message) {
    std::size_t slot = 0;
    for (std::size_t i = 1; i < reader->page_count; ++i) {
        if (reader->page_uses[i] < reader->page_uses[slot]) slot = i;
    }
    const std::uint64_t offset = page * SOURCE_PAGE_SIZE;
    const std::uint64_t length = std::min(reader->size - offset, SOURCE_PAGE_SIZE);
    reader->page_uses[slot] = 0;   // emptied until the read succeeds
    if (offset != reader->position &&
        platform_fseek(reader->file, static_cast<std::int64_t>(offset), SEEK_SET) != 0) {
        reader->position = UNKNOWN_POSITION;
        return failed(message, "cannot seek in source file");
    }
    // The size is known, so a short read is a read error, not the end of the file.
    std::uint8_t* bytes = reader->pages + slot * SOURCE_PAGE_SIZE;
    if (platform_fread(bytes, static_cast<std::size_t>(length), reader->file) != length) {
        reader->position = UNKNOWN_POSITION;
        return failed(message, "cannot read source file");
    }
    reader->position = offset + length;
    reader->page_numbers[slot] = page;
    reader->page_uses[slot] = ++reader->uses;
    reader->current_slot = slot;
    return 0;
}

// Makes the slot holding file page `page` current, reading it if no slot does.
int find_page(SourceReader* reader, std::uint64_t page, const char** message) {
    const std::size_t current = reader->current_slot;
    if (reader->page_uses[current] != 0 && reader->page_numbers[current] == page) return 0;
    for (std::size_t i = 0; i < reader->page_count; ++i) {
        if (reader->page_uses[i] != 0 && reader->page_numbers[i] == page) {
            reader->page_uses[i] = ++reader->uses;
            reader->current_slot = i;
            return 0;
        }
    }
    return read_page(reader, page, message);
}

}  // namespace

int open_source_reader(SourceReader* reader, std::FILE* file, const char** message) {
    *reader = SourceReader{};
    reader->file = file;
    std::int64_t size = 0;
    if (platform_fstat_size(file, &size) != 0 || size < 0) return failed(message, "cannot query source file size");
    reader->size = static_cast<std::uint64_t>(size);
    const MapResult mapped = platform_map_file(file, reader->size, &reader->mapping);
    if (mapped == MAP_FAILED_READ) return failed(message, "cannot read source file");
    if (mapped == MAP_DONE) return 0;
    // A small file needs no more pages than it has.
    const std::uint64_t file_pages = (reader->size + SOURCE_PAGE_SIZE - 1) / SOURCE_PAGE_SIZE;
    reader->page_count = file_pages < SOURCE_CACHE_PAGES ? static_cast<std::size_t>(file_pages) : SOURCE_CACHE_PAGES;
    if (reader->page_count == 0) reader->page_count = 1;
    reader->pages = static_cast<std::uint8_t*>(std::malloc(reader->page_count * SOURCE_PAGE_SIZE));
    if (reader->pages == nullptr) {
        *message = "out of memory";
        return DECODE_OUT_OF_MEMORY;
    }
    return 0;
}

int load_source_block(SourceReader* reader, DecodeSource* record, std::uint64_t number, const char** message) {
    const std::uint64_t block_size = record->block_size;
    if (block_size == 0 || SOURCE_PAGE_SIZE % block_size != 0) return failed(message, "unsupported source block size");
    std::uint64_t length = 0;
    std::uint64_t offset = 0;
    if (number <= reader->size / block_size) {
        offset = number * block_size;
        length = std::min(reader->size - offset, block_size);
    }
    if (reader->mapping.bytes != nullptr) {
        record->current_block = reader->mapping.bytes + offset;
        account_mapped_block(reader, number, block_size);
    } else if (length != 0) {
        const int found = find_page(reader, offset / SOURCE_PAGE_SIZE, message);
        if (found != 0) return found;
        record->current_block = reader->pages + reader->current_slot * SOURCE_PAGE_SIZE + offset % SOURCE_PAGE_SIZE;
    } else {
        // Past the end: no bytes, but a place the decoder may point at.
        record->current_block = reader->pages;
    }
    record->current_block_length = length;
    record->current_block_number = number;
    return 0;
}

bool source_reader_lost(const SourceReader* reader) {
    return reader->mapping.bytes != nullptr && platform_mapping_lost();
}

bool source_reader_changed(const SourceReader* reader) {
    std::int64_t size = 0;
    return source_reader_lost(reader) || platform_fstat_size(reader->file, &size) != 0 ||
           static_cast<std::uint64_t>(size) != reader->size;
}

void release_source_reader(SourceReader* reader) {
    platform_unmap_file(&reader->mapping);
    std::free(reader->pages);
    *reader = SourceReader{};
}
