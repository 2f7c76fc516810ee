// Feeds a patch file to the decoder chunk by chunk, serves its source block
// requests from the source file and appends each finished window to the output.
#include "vcdiff/apply_patch.h"

#include <cstdlib>

#include "platform/platform.h"
#include "platform/write_out.h"
#include "progress/progress_line.h"
#include "vcdiff/decoder.h"
#include "vcdiff/source_reader.h"
#include "vcdiff/window_memory.h"

namespace {

constexpr std::uint32_t DRIVER_FLAGS = DECODE_FLAG_CHECKSUMS;   // checksums stay verified

// Everything one application owns, so that one routine can release it on every path.
struct PatchApplication {
    std::FILE* patch;
    std::FILE* source;
    std::FILE* output;
    bool output_borrowed;            // the caller's stream: neither flushed nor closed here
    WriteOut write_out;              // the output's way to the disk while it is written
    std::uint8_t* input_buffer;
    SourceReader reader;             // released after the source is closed
    bool stream_configured;
    DecodeStream stream;
    DecodeSource source_record;
    const char* message;
};

struct Progress {
    bool shown;
    int start;
    int end;
    std::uint32_t expected_total;
    std::uint64_t written;
    int last_printed;
};

int fail(PatchApplication* app, int code, const char* message) {
    app->message = message;
    return code;
}

// The decoder's code with its own text; a code without one still gets a message.
int decoder_failure(PatchApplication* app, int code) {
    return fail(app, code, app->stream.message != nullptr ? app->stream.message : "decoder failure");
}

void print_progress(Progress* progress, std::uint64_t bytes) {
    if (!progress->shown) return;
    progress->written += bytes;
    const double span = static_cast<double>(progress->end) - static_cast<double>(progress->start);
    // More output than announced (or nothing announced) shows the end of the range
    // instead of overflowing the int.
    double part = span;
    if (progress->expected_total != 0 && progress->written < progress->expected_total) {
        part = static_cast<double>(progress->written) / static_cast<double>(progress->expected_total) * span;
    }
    const int percentage = static_cast<int>(part) + progress->start;
    if (percentage != progress->last_printed) {
        print_patch_progress(percentage);
        progress->last_printed = percentage;
    }
}

int attach_source_file(PatchApplication* app) {
    const int opened = open_source_reader(&app->reader, app->source, &app->message);
    if (opened != 0) return opened;
    DecodeSource* record = &app->source_record;
    record->block_size = SOURCE_BLOCK_SIZE;
    const int loaded = load_source_block(&app->reader, record, 0, &app->message);
    if (loaded != 0) return loaded;
    return attach_source(&app->stream, record);
}

// Whether the source may have changed under the bytes decoded from it (asked before
// anything decoded is written or reported): the ordinary read failure, never a
// window of wrong bytes, a success or a checksum verdict on the image.
bool source_changed(const PatchApplication* app) {
    return app->source != nullptr && source_reader_changed(&app->reader);
}

int write_window(PatchApplication* app, Progress* progress) {
    if (source_changed(app)) return fail(app, APPLY_SOURCE_READ_FAILED, "cannot read source file");
    DecodeStream* stream = &app->stream;
    const std::uint64_t count = stream->output_avail;
    if (count != 0 && platform_fwrite(stream->output_next, static_cast<std::size_t>(count), app->output) != count) {
        return fail(app, APPLY_OUTPUT_WRITE_FAILED, "cannot write output file");
    }
    // Before the progress moves on: the line follows the disk, not the system's cache.
    if (platform_write_out(&app->write_out, app->output) != 0) {
        return fail(app, APPLY_OUTPUT_WRITE_FAILED, "cannot write output file");
    }
    print_progress(progress, count);
    stream->output_avail = 0;
    return 0;
}

// Runs decode_step over the current chunk until it asks for more input.
int decode_chunk(PatchApplication* app, Progress* progress) {
    for (;;) {
        const int result = decode_step(&app->stream);
        // Checked first: source bytes lost during the step (the file was shortened) read as zeros.
        if (source_reader_lost(&app->reader)) return fail(app, APPLY_SOURCE_READ_FAILED, "cannot read source file");
        switch (result) {
            case DECODE_INPUT:
                return 0;
            case DECODE_GOTHEADER:
            case DECODE_WINSTART:
            case DECODE_WINFINISH:
                break;
            case DECODE_GETSRCBLK: {
                // Only asked for with a source attached; anything else would loop.
                if (app->source == nullptr) return fail(app, APPLY_SOURCE_READ_FAILED, "no source file");
                const int loaded =
                    load_source_block(&app->reader, &app->source_record, app->source_record.requested_block, &app->message);
                if (loaded != 0) return loaded;
                break;
            }
            case DECODE_OUTPUT: {
                const int written = write_window(app, progress);
                if (written != 0) return written;
                break;
            }
            default:
                if (source_changed(app)) return fail(app, APPLY_SOURCE_READ_FAILED, "cannot read source file");
                return decoder_failure(app, result);
        }
    }
}

int patch_length(PatchApplication* app, std::uint64_t* length) {
    if (platform_fseek(app->patch, 0, SEEK_END) != 0) {
        return fail(app, APPLY_PATCH_SIZE_FAILED, "cannot determine patch file length");
    }
    const std::int64_t end = platform_ftell(app->patch);
    if (end < 0 || platform_fseek(app->patch, 0, SEEK_SET) != 0) {
        return fail(app, APPLY_PATCH_SIZE_FAILED, "cannot determine patch file length");
    }
    *length = static_cast<std::uint64_t>(end);
    return 0;
}

// The whole application except closing; the caller releases what is left open.
int run(PatchApplication* app, Progress* progress, const char* source_path, const char* output_path,
        const char* patch_path) {
    app->patch = platform_fopen(patch_path, "rb");
    if (app->patch == nullptr) return fail(app, APPLY_PATCH_OPEN_FAILED, "cannot open patch file");
    app->source = platform_fopen(source_path, "rb");   // a missing source is the decoder's concern
    if (!app->output_borrowed) app->output = platform_fopen(output_path, "wb");
    if (app->output == nullptr) return fail(app, APPLY_OUTPUT_OPEN_FAILED, "cannot open output file");

    DecodeConfig config{};
    config.window_size = PATCH_CHUNK_SIZE;
    config.flags = DRIVER_FLAGS;
    config.allocate = allocate_window_memory;
    const int configured = configure_stream(&app->stream, &config);
    app->stream_configured = true;
    if (configured != 0) return decoder_failure(app, configured);

    if (app->source != nullptr) {
        const int attached = attach_source_file(app);
        if (attached != 0) return attached;
    }

    app->input_buffer = static_cast<std::uint8_t*>(std::malloc(PATCH_CHUNK_SIZE));
    if (app->input_buffer == nullptr) return fail(app, DECODE_OUT_OF_MEMORY, "out of memory");
    // 64-bit: a patch of 2 GiB or more is read like any other.
    std::uint64_t remaining = 0;
    const int measured = patch_length(app, &remaining);
    if (measured != 0) return measured;
    if (remaining == 0) return fail(app, DECODE_INVALID_INPUT, "empty patch file");

    while (remaining != 0) {
        const std::uint32_t wanted =
            remaining < PATCH_CHUNK_SIZE ? static_cast<std::uint32_t>(remaining) : PATCH_CHUNK_SIZE;
        // A file that yields fewer bytes than its length said would otherwise be
        // waited for forever.
        const std::size_t got = platform_fread(app->input_buffer, wanted, app->patch);
        if (got != wanted) return fail(app, APPLY_PATCH_READ_FAILED, "patch file read failed or ended early");
        if (got < PATCH_CHUNK_SIZE) app->stream.flags |= DECODE_FLAG_LAST_INPUT;
        app->stream.input_next = app->input_buffer;
        app->stream.input_avail = got;
        const int decoded = decode_chunk(app, progress);
        if (decoded != 0) return decoded;
        remaining -= got;
    }
    if (source_changed(app)) return fail(app, APPLY_SOURCE_READ_FAILED, "cannot read source file");
    const int ended = end_stream(&app->stream);
    if (ended != 0) return decoder_failure(app, ended);
    // The format lets a stream end inside its file header or right after it, but such a
    // patch wrote nothing: it is no patch at all.
    if (app->stream.windows_done == 0) return fail(app, APPLY_PATCH_NO_WINDOW, "patch holds no window");
    return 0;
}

// Ends the output (unless it is the caller's), closes the source and patch files in
// that order and frees everything.
int release_all(PatchApplication* app, int result) {
    std::free(app->input_buffer);
    if (app->stream_configured) release_stream(&app->stream);
    if (app->output != nullptr && !app->output_borrowed) {
        result = finish_patch_output(app->output, result, &app->message);
    }
    if (app->source != nullptr) platform_fclose(app->source);
    release_source_reader(&app->reader);
    if (app->patch != nullptr) platform_fclose(app->patch);
    return result;
}

}  // namespace

int apply_patch(std::uint8_t show_progress, int progress_start, int progress_end, std::uint32_t expected_total,
                const char* source_path, const char* output_path, const char* patch_path,
                const char** failure_message) {
    PatchApplication app{};
    Progress progress{show_progress != 0, progress_start, progress_end, expected_total, 0, 0};
    const int result = release_all(&app, run(&app, &progress, source_path, output_path, patch_path));
    if (failure_message != nullptr) *failure_message = result != 0 ? app.message : nullptr;
    return result;
}

int apply_patch_into(std::uint8_t show_progress, int progress_start, int progress_end, std::uint32_t expected_total,
                     const char* source_path, std::FILE* output, const char* patch_path,
                     const char** failure_message) {
    PatchApplication app{};
    app.output = output;
    app.output_borrowed = true;
    Progress progress{show_progress != 0, progress_start, progress_end, expected_total, 0, 0};
    const int result = release_all(&app, run(&app, &progress, source_path, nullptr, patch_path));
    if (failure_message != nullptr) *failure_message = result != 0 ? app.message : nullptr;
    return result;
}

int finish_patch_output(std::FILE* output, int result, const char** failure_message) {
    const char* message = nullptr;
    // Only a success is worth waiting for the disk: a failed output is deleted.
    if (result == 0 && platform_flush_to_disk(output) != 0) {
        result = APPLY_OUTPUT_FLUSH_FAILED;
        message = "cannot flush output file to disk";
    }
    // Closed in every case; a failed close (its last buffered bytes not written) fails a success.
    if (platform_fclose(output) != 0 && result == 0) {
        result = APPLY_OUTPUT_WRITE_FAILED;
        message = "cannot write output file";
    }
    if (message != nullptr && failure_message != nullptr) *failure_message = message;
    return result;
}

const char* apply_patch_result_name(int code) {
    switch (code) {
        case APPLY_PATCH_OPEN_FAILED: return "APPLY_PATCH_OPEN_FAILED";
        case APPLY_OUTPUT_OPEN_FAILED: return "APPLY_OUTPUT_OPEN_FAILED";
        case APPLY_PATCH_SIZE_FAILED: return "APPLY_PATCH_SIZE_FAILED";
        case APPLY_PATCH_READ_FAILED: return "APPLY_PATCH_READ_FAILED";
        case APPLY_SOURCE_READ_FAILED: return "APPLY_SOURCE_READ_FAILED";
        case APPLY_OUTPUT_WRITE_FAILED: return "APPLY_OUTPUT_WRITE_FAILED";
        case APPLY_PATCH_NO_WINDOW: return "APPLY_PATCH_NO_WINDOW";
        case APPLY_OUTPUT_FLUSH_FAILED: return "APPLY_OUTPUT_FLUSH_FAILED";
        default: return decode_result_name(code);
    }
}
