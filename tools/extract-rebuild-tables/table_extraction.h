// Derives the three rebuild tables from the file lists of a US and a European image
// and from the header sectors of the US image's sound-bank ranges.
#pragma once

#include <string>
#include <vector>

#include "iso9660_reader.h"
#include "rebuild/table_facts.h"

// Targets: the US files whose first sector lies in the relocated block, in sector order.
// Sources: the European file of each target's name, in sector order. A target without a
// European file, or a European file below the base sector, is a failed fact.
void derive_relocation_tables(const std::vector<IsoFile>& us_files, const std::vector<IsoFile>& eu_files,
                              RebuildTableFiles* tables, std::vector<FactFailure>* failures);

// The offsets of the header sectors in each of the nine bank ranges of the US image
// (where steps 50 to 58 write, as long as their end values). False when the image
// cannot be read.
bool scan_bank_sets(const std::string& us_image_path, RebuildTableFiles* tables, std::string* error);

// Which of the volume's trees to take: Joliet only when more of the files in the
// relocated block have names of the tables' shape there than in the primary tree.
bool joliet_fits_better(const IsoVolume& volume);
