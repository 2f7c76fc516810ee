#include "rebuild/rebuild_steps.h"

namespace {
constexpr RebuildStep zeros(std::uint32_t length) {
    return {RebuildStepKind::ZEROS, 0, length, 0, 0};
}
constexpr RebuildStep copy(std::uint32_t offset, std::uint32_t length) {
    return {RebuildStepKind::COPY, offset, length, 0, 0};
}
constexpr RebuildStep banks(std::uint8_t set, std::uint32_t offset, std::uint32_t length,
                            std::uint32_t end_value) {
    return {RebuildStepKind::SOUND_BANKS, offset, length, end_value, set};
}
constexpr RebuildStep relocate() { return {RebuildStepKind::RELOCATE, 0, 0, 0, 0}; }
}  // namespace

// The European layout, step by step, front to back of the intermediate image.
const RebuildStep REBUILD_STEPS[REBUILD_STEP_COUNT] = {
    zeros(720896),                              // 1
    copy(0x26DDB800, 61440),                    // 2: steps 2 to 9 lie just before 41 to 48
    copy(0x2E3D6800, 61440),
    copy(0x3592A000, 61440),
    copy(0x3E5B7800, 24576),
    copy(0x43EAC000, 24576),
    copy(0x457C5000, 18432),
    copy(0x4680C000, 57344),
    copy(0x4C1DF800, 10240),                    // 9
    zeros(2048),                                // 10
    copy(0x000B8800, 13522944),                 // 11
    zeros(137216),                              // 12 to 18: separate runs, one line each
    zeros(253952),
    zeros(36864),
    zeros(8192),
    zeros(45056),
    zeros(92160),
    zeros(8192),                                // 18
    copy(0x00DF9800, 26624),                    // 19
    copy(0x00E3F800, 8192),
    copy(0x00E28800, 22528),
    copy(0x00E2E000, 10240),
    copy(0x00E30800, 14336),
    copy(0x00E19800, 61440),
    copy(0x00DB0000, 24576),                    // 25
    zeros(22528),                               // 26
    copy(0x00DAC000, 16384),                    // 27
    copy(0x7AD12800, 3835904),
    copy(0x4CE89800, 79792128),
    copy(0x51AA2000, 84887552),
    copy(0x58212800, 84903936),
    copy(0x5E983000, 84920320),
    copy(0x881AC800, 3540992),
    copy(0x7B0BB000, 65013760),
    copy(0x7EEBB800, 69175296),
    copy(0x83834000, 69142528),
    copy(0x9593F000, 59086848),
    copy(0x9921B000, 49899520),
    copy(0x9C1E3800, 23224320),
    copy(0x9D83B800, 6313984),                  // 40
    copy(0x26DEA800, 123650048),                // 41: also the sources of the vpackj files
    copy(0x2E3E5800, 122963968),
    copy(0x35939000, 147318784),
    copy(0x3E5BD800, 93251584),
    copy(0x43EB2000, 26292224),
    copy(0x457C9800, 17049600),
    copy(0x4681A000, 94132224),
    copy(0x4C1E2000, 13268992),                 // 48
    relocate(),                                 // 49: 822,093,824 bytes
    banks(0, 0x0BD51000, 76998656, 74600448),   // 50
    banks(1, 0x106CE800, 81262592, 78913536),
    banks(2, 0x1545D000, 83130368, 80697344),
    banks(3, 0x1A3AA800, 70549504, 69957632),
    banks(4, 0x1E6F8800, 15075328, 13993984),
    banks(5, 0x1F55D800, 16551936, 15699968),
    banks(6, 0x20534800, 66332672, 63930368),
    banks(7, 0x2447C000, 29538304, 28602368),
    banks(8, 0x260AA000, 13834240, 13832192),   // 58
    copy(0x0BD42000, 61440),                    // 59: the bytes just before the bank regions
    copy(0x106BF800, 61440),
    copy(0x1544E000, 61440),
    zeros(24576),                               // 62: in place of those before set 4
    copy(0x1E6F2800, 24576),
    copy(0x1F559000, 18432),
    copy(0x20526800, 57344),
    copy(0x24477000, 20480),
    copy(0x260A7800, 10240),                    // 67
    zeros(2048),                                // 68
};
