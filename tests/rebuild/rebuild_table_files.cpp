#include "rebuild_table_files.h"

#include <fstream>
#include <sstream>

namespace {

// Calls `row` with a stream over each data line ('#' and empty lines skipped); `row`
// returns false for a line it cannot read whole.
template <typename Row>
bool read_rows(const std::string& path, Row row, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) *error = "cannot open " + path;
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        fields >> std::noskipws;
        if (!row(fields) || !fields.eof()) {
            *error = path + ": bad line '" + line + "'";
            return false;
        }
    }
    return error->empty();
}

bool name_field(std::istringstream& in, std::string* name) {
    return std::getline(in, *name, '\t') && !name->empty();
}

// A decimal number, then a tab or the end of the line.
bool number_field(std::istringstream& in, std::uint32_t* value, bool last) {
    std::string text;
    if (!std::getline(in, text, last ? '\n' : '\t') || text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoull(text) > 0xFFFFFFFFull) {
        return false;
    }
    *value = static_cast<std::uint32_t>(std::stoull(text));
    return true;
}

}  // namespace

RebuildTableFiles read_rebuild_table_files(const std::string& folder) {
    RebuildTableFiles t;
    t.bank_sets.resize(9);
    const bool read = read_rows(folder + "/relocation_targets.tsv", [&](std::istringstream& in) {
        TargetRow r{};
        if (!name_field(in, &r.name) || !number_field(in, &r.sector, false) || !number_field(in, &r.size, true))
            return false;
        t.targets.push_back(r);
        return true;
    }, &t.error) &&
    read_rows(folder + "/relocation_sources.tsv", [&](std::istringstream& in) {
        SourceRow r{};
        if (!name_field(in, &r.name) || !number_field(in, &r.sector, true)) return false;
        t.sources.push_back(r);
        return true;
    }, &t.error) &&
    read_rows(folder + "/sound_banks.tsv", [&](std::istringstream& in) {
        std::uint32_t set = 0, offset = 0;
        // Sets come in order, 1 to 9.
        if (!number_field(in, &set, false) || !number_field(in, &offset, true) || set < 1 || set > 9) return false;
        for (std::size_t later = set; later < 9; ++later) {
            if (!t.bank_sets[later].empty()) return false;
        }
        t.bank_sets[set - 1].push_back(offset);
        return true;
    }, &t.error);
    if (!read && t.error.empty()) t.error = "cannot read the tables";
    return t;
}
