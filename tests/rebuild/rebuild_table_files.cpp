#include "rebuild_table_files.h"

#include <fstream>
#include <sstream>

namespace {

// Data lines split at tabs; '#' lines and empty lines are skipped.
bool read_rows(const std::string& path, std::size_t fields,
               std::vector<std::vector<std::string>>* rows, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> row;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) row.push_back(field);
        if (row.size() != fields) {
            *error = path + ": bad line '" + line + "'";
            return false;
        }
        rows->push_back(row);
    }
    return true;
}

bool to_u32(const std::string& text, std::uint32_t* value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::stoull(text);
    if (v > 0xFFFFFFFFull) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

RebuildTableFiles read_rebuild_table_files(const std::string& folder) {
    RebuildTableFiles tables;
    tables.bank_sets.resize(9);
    std::vector<std::vector<std::string>> rows;
    if (!read_rows(folder + "/relocation_targets.tsv", 3, &rows, &tables.error)) return tables;
    for (const auto& row : rows) {
        TargetRow target{row[0], 0, 0};
        if (!to_u32(row[1], &target.sector) || !to_u32(row[2], &target.size)) {
            tables.error = "bad number in target row " + row[0];
            return tables;
        }
        tables.targets.push_back(target);
    }
    rows.clear();
    if (!read_rows(folder + "/relocation_sources.tsv", 2, &rows, &tables.error)) return tables;
    for (const auto& row : rows) {
        SourceRow source{row[0], 0};
        if (!to_u32(row[1], &source.sector)) {
            tables.error = "bad number in source row " + row[0];
            return tables;
        }
        tables.sources.push_back(source);
    }
    rows.clear();
    if (!read_rows(folder + "/sound_banks.tsv", 2, &rows, &tables.error)) return tables;
    std::uint32_t previous_set = 1;
    for (const auto& row : rows) {
        std::uint32_t set = 0;
        std::uint32_t offset = 0;
        if (!to_u32(row[0], &set) || !to_u32(row[1], &offset) || set < previous_set || set > 9) {
            tables.error = "bad bank row " + row[0] + " " + row[1];
            return tables;
        }
        previous_set = set;
        tables.bank_sets[set - 1].push_back(offset);
    }
    return tables;
}
