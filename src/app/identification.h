// Recognising a disc image of the game by its size and a few bytes at fixed offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/patch_job.h"

inline constexpr std::uint64_t US_BOOT_PATH_OFFSET = 13093328;
inline constexpr std::uint64_t US_MARKER_OFFSET = 14500752;
inline constexpr std::uint64_t EU_BOOT_PATH_OFFSET = 12693144;
inline constexpr std::uint32_t BOOT_PATH_LENGTH = 22;  // 21 characters and a zero byte
inline constexpr char US_BOOT_PATH[BOOT_PATH_LENGTH + 1] = "cdrom0:\\SXUS_907.31;1";
inline constexpr char EU_BOOT_PATH[BOOT_PATH_LENGTH + 1] = "cdrom0:\\SXES_608.42;1";
inline constexpr std::uint8_t US_MARKER[4] = {0x82, 0x62, 0x82, 0x81};
// The CRC-32 of the dumps the patches are made for (the messages quote them too).
inline constexpr std::uint32_t US_IMAGE_CRC32 = 0xECD1E5BD;
inline constexpr std::uint32_t EU_IMAGE_CRC32 = 0x355F1080;

inline constexpr std::size_t PATCH_PREFIX_LENGTH = 16;
inline constexpr char US_PATCH_PREFIX[] = "OV1_Patch_US-FR_";
inline constexpr char EU_PATCH_PREFIX[] = "OV1_Patch_EU-FR_";

enum ImageIdentity { IMAGE_UNKNOWN, IMAGE_US, IMAGE_EU, IMAGE_OPEN_FAILED };

// Opens job.image_path, takes its exact 64-bit size and reads only the 22 or 26
// identification bytes. The image is closed again whatever the answer.
ImageIdentity identify_image(PatchJob& job);
