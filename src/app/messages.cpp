#include "app/messages.h"

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
