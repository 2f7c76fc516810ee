// Source blocks for the patch driver, out of a mapping or through the stream.
#include "vcdiff/source_reader.h"

#include <cstdlib>

#include "platform/platform.h"
#include "vcdiff/apply_patch.h"

namespace {

constexpr std::uint64_t UNKNOWN_POSITION = ~std::uint64_t{0};
// The stream's buffer: a run of 16 KiB block reads costs one system call per this
// many bytes.
constexpr std::size_t SOURCE_STREAM_BUFFER = 256 * 1024;
// Touched pages of the mapping count as the program's memory: give them back after
// this many bytes (the file stays in the system's cache).
constexpr std::uint64_t RESIDENT_LIMIT = 16u << 20;
// A jump to a far block maps this much around it at once.
constexpr std::uint64_t FAULT_AROUND = 64u << 10;

int failed(const char** message, const char* text) {
    *message = text;
    return APPLY_SOURCE_READ_FAILED;
}

int read_block(SourceReader* reader, std::uint64_t offset, std::uint64_t length, const char** message) {
    // Blocks are mostly asked for in order: the stream is then already there, and
    // its buffer serves the read without a system call.
    if (offset != reader->position &&
        platform_fseek(reader->file, static_cast<std::int64_t>(offset), SEEK_SET) != 0) {
        reader->position = UNKNOWN_POSITION;
        return failed(message, "cannot seek in source file");
    }
    // The size is known, so a short read is a read error, not the end of the file.
    if (platform_fread(reader->block_buffer, static_cast<std::size_t>(length), reader->file) != length) {
        reader->position = UNKNOWN_POSITION;
        return failed(message, "cannot read source file");
    }
    reader->position = offset + length;
    return 0;
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
    // Without a bigger buffer each block would be a system call of its own.
    reader->stream_buffer = static_cast<char*>(std::malloc(SOURCE_STREAM_BUFFER));
    if (reader->stream_buffer != nullptr) {
        platform_set_stream_buffer(file, reader->stream_buffer, SOURCE_STREAM_BUFFER);
    }
    reader->block_buffer = static_cast<std::uint8_t*>(std::malloc(SOURCE_BLOCK_SIZE));
    if (reader->block_buffer == nullptr) {
        *message = "out of memory";
        return DECODE_OUT_OF_MEMORY;
    }
    return 0;
}

int load_source_block(SourceReader* reader, DecodeSource* record, std::uint64_t number, const char** message) {
    const std::uint64_t block_size = record->block_size;
    std::uint64_t length = 0;
    std::uint64_t offset = 0;
    if (number <= reader->size / block_size) {
        offset = number * block_size;
        length = reader->size - offset < block_size ? reader->size - offset : block_size;
    }
    if (reader->mapping.bytes != nullptr) {
        record->current_block = reader->mapping.bytes + offset;
        account_mapped_block(reader, number, block_size);
    } else {
        if (length != 0) {
            const int read = read_block(reader, offset, length, message);
            if (read != 0) return read;
        }
        record->current_block = reader->block_buffer;
    }
    record->current_block_length = length;
    record->current_block_number = number;
    return 0;
}

bool source_reader_lost(const SourceReader* reader) {
    return reader->mapping.bytes != nullptr && platform_mapping_lost();
}

void release_source_reader(SourceReader* reader) {
    platform_unmap_file(&reader->mapping);
    std::free(reader->block_buffer);
    std::free(reader->stream_buffer);
    *reader = SourceReader{};
}
