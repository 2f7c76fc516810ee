#include "app/messages.h"

#include <cstdio>

void print_banner() { std::printf(msg_banner, CP850_C_CEDILLA); }

void print_image_not_found() {
    std::fputs(msg_image_not_found, stdout);
    std::printf(msg_size_hint, CP850_E_CIRCUMFLEX);
    std::printf(msg_crc_hint, CP850_E_CIRCUMFLEX);
}

void print_image_open_failed(const char* display_path) { std::printf(msg_image_open_failed, display_path); }

void print_us_detected(const char* display_path) {
    std::printf(msg_us_detected, CP850_E_ACUTE, CP850_E_ACUTE, display_path);
}

void print_eu_detected(const char* display_path) {
    std::printf(msg_eu_detected, CP850_E_ACUTE, CP850_E_ACUTE, CP850_E_ACUTE, display_path);
}

void print_us_patch_missing() { std::fputs(msg_us_patch_missing, stdout); }
void print_eu_patch_missing() { std::fputs(msg_eu_patch_missing, stdout); }
void print_patching() { std::fputs(msg_patching, stdout); }
void print_temp_create_failed() { std::printf(msg_temp_create_failed, CP850_E_ACUTE); }

void print_patch_succeeded(const char* output_display_path) {
    std::printf(msg_patch_succeeded, CP850_E_ACUTE, CP850_E_ACUTE, CP850_E_ACUTE, CP850_E_GRAVE);
    std::printf(msg_output_named, CP850_C_CEDILLA, output_display_path);
}

void print_crc_failed(const char* image_display_path) {
    std::printf(msg_crc_failed, CP850_E_ACUTE, CP850_E_ACUTE, CP850_U_CIRCUMFLEX, CP850_A_GRAVE,
                CP850_E_GRAVE, image_display_path);
}

void print_patch_failed() { std::printf(msg_patch_failed, CP850_E_ACUTE, CP850_E_ACUTE); }

void print_press_key() {
    std::fputs(msg_press_key, stdout);
    std::fflush(stdout);
}
