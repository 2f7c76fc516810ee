#include "rebuild/rebuild_script.h"

#include "rebuild/file_relocation.h"
#include "rebuild/rebuild_steps.h"
#include "rebuild/rebuild_tables.h"
#include "rebuild/sound_bank_split.h"

namespace {

bool run_step(const RebuildStep& step, const WriterValues& writer) {
    switch (step.kind) {
        case RebuildStepKind::ZEROS:
            return write_zeros(step.length, writer);
        case RebuildStepKind::COPY:
            return copy_range(step.source_offset, step.length, writer);
        case RebuildStepKind::RELOCATE: {
            const RelocationTables tables{RELOCATION_TARGETS, RELOCATION_TARGET_COUNT,
                                          RELOCATION_SOURCES, RELOCATION_SOURCE_COUNT};
            return relocate_files(RELOCATION_BASE_SECTOR, tables, writer);
        }
        case RebuildStepKind::SOUND_BANKS: {
            const std::size_t first = SOUND_BANK_SET_FIRST[step.bank_set];
            const SoundBankSet set{step.source_offset, step.length, SOUND_BANK_OFFSETS + first,
                                   SOUND_BANK_SET_FIRST[step.bank_set + 1] - first,
                                   step.end_value};
            return split_sound_banks(set, writer);
        }
    }
    return false;
}

}  // namespace

bool rebuild_intermediate_image(const WriterValues& writer) {
    if (!begin_rebuild_io(writer)) return false;
    bool rebuilt = true;
    for (const RebuildStep& step : REBUILD_STEPS) {
        rebuilt = run_step(step, writer);
        if (!rebuilt) break;
    }
    const bool ended = end_rebuild_io(writer);
    return rebuilt && ended;
}
