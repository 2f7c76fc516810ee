#include "rebuild/table_files.h"

#include <fstream>
#include <sstream>

namespace {

// Hands `row` a stream over each data line ('#' and empty lines skipped); a line that
// `row` cannot read whole is an error.
template <typename Row>
void read_rows(const std::string& path, std::string* error, Row row) {
    std::ifstream in(path, std::ios::binary);
    if (!in && error->empty()) *error = "cannot open " + path;
    for (std::string line; error->empty() && std::getline(in, line);) {
        std::istringstream fields(line);
        if (!line.empty() && line[0] != '#' && (!row(fields) || !(fields >> std::ws).eof())) {
            *error = path + ": bad line '" + line + "'";
        }
    }
}

}  // namespace

RebuildTableFiles read_table_files(const std::string& folder) {
    RebuildTableFiles t;
    t.bank_sets.resize(9);
    read_rows(folder + "/" + TABLE_FILE_NAMES[0], &t.error, [&](std::istringstream& in) {
        TargetRow r{};
        return (in >> r.name >> r.sector >> r.size) && (t.targets.push_back(r), true);
    });
    read_rows(folder + "/" + TABLE_FILE_NAMES[1], &t.error, [&](std::istringstream& in) {
        SourceRow r{};
        return (in >> r.name >> r.sector) && (t.sources.push_back(r), true);
    });
    read_rows(folder + "/" + TABLE_FILE_NAMES[2], &t.error, [&](std::istringstream& in) {
        std::uint32_t set = 0, offset = 0;
        if (!(in >> set >> offset) || set < 1 || set > 9) return false;
        for (std::size_t later = set; later < 9; ++later) {
            if (!t.bank_sets[later].empty()) return false;  // sets come in order
        }
        t.bank_sets[set - 1].push_back(offset);
        return true;
    });
    return t;
}

std::array<std::string, 3> format_table_files(const RebuildTableFiles& tables, const std::string& origin) {
    std::ostringstream targets, sources, banks;
    targets << "# " << origin << "\n# name\ttarget_sector\tsize_sectors (target order)\n";
    for (const TargetRow& t : tables.targets) targets << t.name << '\t' << t.sector << '\t' << t.size << '\n';
    sources << "# " << origin << "\n# name\tsource_sector (source order, from base sector 7303)\n";
    for (const SourceRow& s : tables.sources) sources << s.name << '\t' << s.sector << '\n';
    banks << "# " << origin << "\n# set\toffset (bytes from the first byte the set writes)\n";
    for (std::size_t k = 0; k < tables.bank_sets.size(); ++k) {
        for (const std::uint32_t offset : tables.bank_sets[k]) banks << k + 1 << '\t' << offset << '\n';
    }
    return {targets.str(), sources.str(), banks.str()};
}
