// The instruction code table: generated from its shape, one shared default table.
#include "vcdiff/decoder.h"

namespace {

// The shape that yields the standard default code table.
constexpr CodeTableShape DEFAULT_SHAPE = {
    17,  // add_sizes
    4,   // near_modes
    3,   // same_modes
    15,  // copy_sizes
    4,   // add_copy_max_add
    6,   // add_copy_max_near_copy
    4,   // add_copy_max_same_copy
    1,   // copy_add_max_add
    4,   // copy_add_max_near_copy
    4,   // copy_add_max_same_copy
};

constexpr int CODE_TABLE_ENTRIES = 256;

CodeTableEntry shared_default_table[CODE_TABLE_ENTRIES];

struct TableWriter {
    CodeTableEntry* table;
    int next;

    void put(int type1, int size1, int type2, int size2) {
        if (next >= CODE_TABLE_ENTRIES) {
            return;   // a shape larger than a table: the surplus has no opcode
        }
        table[next].type1 = static_cast<std::uint8_t>(type1);
        table[next].size1 = static_cast<std::uint8_t>(size1);
        table[next].type2 = static_cast<std::uint8_t>(type2);
        table[next].size2 = static_cast<std::uint8_t>(size2);
        ++next;
    }
};

}  // namespace

void build_code_table(const CodeTableShape* shape, CodeTableEntry* table) {
    TableWriter writer{table, 0};
    const int modes = shape->near_modes + shape->same_modes + 2;
    const int first_same_mode = shape->near_modes + 2;

    writer.put(RUN, 0, NOOP, 0);
    writer.put(ADD, 0, NOOP, 0);
    for (int size = 1; size <= shape->add_sizes; ++size) {
        writer.put(ADD, size, NOOP, 0);
    }
    for (int mode = 0; mode < modes; ++mode) {
        writer.put(COPY + mode, 0, NOOP, 0);
        for (int size = 4; size <= shape->copy_sizes + 3; ++size) {
            writer.put(COPY + mode, size, NOOP, 0);
        }
    }
    for (int mode = 0; mode < modes; ++mode) {
        if (shape->add_copy_max_add == 0) {
            continue;
        }
        const int copy_max = mode < first_same_mode ? shape->add_copy_max_near_copy
                                                    : shape->add_copy_max_same_copy;
        for (int add = 1; add <= shape->add_copy_max_add; ++add) {
            for (int copy = 4; copy_max > 3 && copy <= copy_max; ++copy) {
                writer.put(ADD, add, COPY + mode, copy);
            }
        }
    }
    for (int mode = 0; mode < modes; ++mode) {
        const int copy_max = mode < first_same_mode ? shape->copy_add_max_near_copy
                                                    : shape->copy_add_max_same_copy;
        for (int copy = 4; copy_max > 3 && copy <= copy_max; ++copy) {
            for (int add = 1; add <= shape->copy_add_max_add; ++add) {
                writer.put(COPY + mode, copy, ADD, add);
            }
        }
    }
}

const CodeTableEntry* default_code_table() {
    // Filled on first use; entry 0 is a RUN once it has been built.
    if (shared_default_table[0].type1 != RUN) {
        build_code_table(&DEFAULT_SHAPE, shared_default_table);
    }
    return shared_default_table;
}
