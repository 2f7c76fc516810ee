#include "app/messages.h"

#include <cstdio>

#include "platform/console_print.h"

void print_banner() { console_print(msg_banner); }

void print_image_not_found() {
    console_print(msg_image_not_found);
    console_print(msg_size_hint);
    console_print(msg_crc_hint);
}

void print_image_open_failed(const char* display_path) { console_print(msg_image_open_failed, display_path); }
void print_us_detected(const char* display_path) { console_print(msg_us_detected, display_path); }
void print_eu_detected(const char* display_path) { console_print(msg_eu_detected, display_path); }
void print_us_patch_missing() { console_print(msg_us_patch_missing); }
void print_eu_patch_missing() { console_print(msg_eu_patch_missing); }
void print_patching() { console_print(msg_patching); }
void print_temp_create_failed() { console_print(msg_temp_create_failed); }

void print_patch_succeeded(const char* output_display_path) {
    console_print(msg_patch_succeeded);
    console_print(msg_output_named, output_display_path);
}

void print_crc_failed(const char* image_display_path) { console_print(msg_crc_failed, image_display_path); }
void print_patch_failed() { console_print(msg_patch_failed); }
void print_press_key() { console_print(msg_press_key); }

void print_other_run(const char* image_display_path) { console_print(msg_other_run, image_display_path); }
void print_output_held(const char* output_display_path) { console_print(msg_output_held, output_display_path); }

namespace {

// Tenths of a Go (10^9 bytes), rounded up or down, written "5,3".
void format_gigabytes(std::uint64_t bytes, bool round_up, char (&text)[32]) {
    constexpr std::uint64_t TENTH = 100000000;
    const std::uint64_t tenths = bytes / TENTH + (round_up && bytes % TENTH != 0 ? 1 : 0);
    std::snprintf(text, sizeof text, "%llu,%llu", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
}

}  // namespace

void print_no_space(const char* image_display_path, std::uint64_t needed, std::uint64_t free_bytes) {
    char needed_text[32];
    char free_text[32];
    format_gigabytes(needed, true, needed_text);
    format_gigabytes(free_bytes, false, free_text);
    console_print(msg_no_space, image_display_path, needed_text, free_text);
}

void print_output_kept(const char* output_display_path, const char* part_display_path) {
    console_print(msg_output_kept, output_display_path, part_display_path);
}

void print_folder_in_the_way(const char* display_path) { console_print(msg_folder_in_the_way, display_path); }
void print_path_too_long(const char* display_path) { console_print(msg_path_too_long, display_path); }
void print_names_too_long(const char* image_display_path) { console_print(msg_names_too_long, image_display_path); }
void print_in_temporary_folder(const char* start_folder) { console_print(msg_in_temporary_folder, start_folder); }
void print_cannot_write_here(const char* folder) { console_print(msg_cannot_write_here, folder); }
void print_patch_damaged(const char* patch_display_path) { console_print(msg_patch_damaged, patch_display_path); }
void print_write_failed(const char* display_path) { console_print(msg_write_failed, display_path); }
void print_crc_progress(int percentage) { console_print(msg_crc_progress, percentage); }

void print_crc_verdict(const char* image_display_path, const char* patch_display_path, std::uint32_t crc,
                       std::uint32_t expected_crc) {
    if (crc == expected_crc) {
        console_print(msg_patch_not_for_image, patch_display_path);
    } else {
        console_print(msg_crc_failed, image_display_path);
    }
    console_print(msg_crc_found, image_display_path, static_cast<unsigned>(crc), static_cast<unsigned>(expected_crc));
}
