#!/usr/bin/env python3
"""Writes the stand-in rebuild tables into src/rebuild/.

The disc's own tables are not available to us, so these values are made up but
keep every count, bound, order, total and known row of the real ones: the rebuild
writes an image of the right size and layout from them, and the tests can check
the program against them. The output is fully determined by the seed below.

Usage: make_rebuild_tables.py [output folder]   (default: src/rebuild of this repo)
"""
import os
import random
import sys

SEED = 20240611
SECTOR = 2048
BASE_SECTOR = 7303
CHUNK_SECTORS = 10240  # 20 MiB

# The eight "vpackj" files are exactly the ranges copied by steps 41 to 48.
VPACKJ_RANGES = [
    (0x26DEA800, 123650048), (0x2E3E5800, 122963968), (0x35939000, 147318784),
    (0x3E5BD800, 93251584), (0x43EB2000, 26292224), (0x457C9800, 17049600),
    (0x4681A000, 94132224), (0x4C1E2000, 13268992),
]

# (entries, end value, first three entries, last entry, smallest piece, largest piece)
BANK_SETS = [
    (1001, 74600448, (0, 40960, 157696), 74510336, 10240, 264192),
    (1000, 78913536, (0, 38912, 153600), 78804992, 12288, 245760),
    (1000, 80697344, (0, 38912, 176128), 80652288, 10240, 268288),
    (400, 69957632, (0, 69632, 215040), 68978688, 12288, 8855552),
    (388, 13993984, (0, 32768, 65536), 13975552, 10240, 137216),
    (307, 15699968, (0, 16384, 38912), 15656960, 8192, 192512),
    (942, 63930368, (0, 51200, 116736), 63178752, 14336, 792576),
    (338, 28602368, (0, 90112, 180224), 28481536, 8192, 231424),
    (148, 13832192, (0, 591872, 620544), 12890112, 28672, 942080),
]

FOLDER_COUNTS = {"res": 951, "fpack": 632, "vpackj": 8, "modules": 3}
TARGET_FOLDER_ORDER = ["res", "fpack", "vpackj", "modules"]
SOURCE_FOLDER_ORDER = ["fpack", "modules", "res", "vpackj"]

# Target sectors: (first target index of a run, its sector); every run is contiguous.
TARGET_RUNS = [(0, 366), (650, 7937), (1245, 17048), (1287, 30504), (1400, 57317)]
TARGET_END = 401413
GAP_BEFORE_ENTRY_646 = 80297  # source sector of source entry 646, the first target
SOURCE_FIRST_SIZES = [35, 263, 248, 248]  # gives source sectors 0, 35, 298, 546, 794


def composition(rng, total, count, low, high):
    """`count` integers in [low, high] that add up to `total`."""
    assert count * low <= total <= count * high, (total, count, low, high)
    parts = [low] * count
    left = total - count * low
    while left > 0:
        i = rng.randrange(count)
        room = high - parts[i]
        if room <= 0:
            continue
        step = min(room, left, max(1, rng.randrange(1 + (total // count))))
        parts[i] += step
        left -= step
    return parts


def make_names(rng):
    words = ["chr", "map", "evt", "btl", "sys", "menu", "font", "field", "town", "dungeon",
             "effect", "sound", "texture", "model", "script", "motion", "camera", "boss"]
    exts = {"res": ["bin", "tm2", "pak", "dat"], "fpack": ["fpk", "bin"],
            "vpackj": ["pss"], "modules": ["irx"]}
    names = {}
    used = set()
    for folder, count in FOLDER_COUNTS.items():
        out = []
        i = 0
        while len(out) < count:
            depth = 1 + (i % 3)  # 1 to 3 separators
            parts = [folder] + [rng.choice(words) for _ in range(depth - 1)]
            stem = "%s%04d" % (rng.choice(words)[:rng.randrange(1, 8)], i)
            name = "/".join(parts + ["%s.%s" % (stem, rng.choice(exts[folder]))])
            i += 1
            if 12 <= len(name) <= 39 and name not in used:
                used.add(name)
                out.append(name)
        names[folder] = out
    return names


def relocation_tables(rng):
    names = make_names(rng)
    # Source order: by folder, each folder in its canonical order.
    source_names = [n for f in SOURCE_FOLDER_ORDER for n in names[f]]
    assert source_names.index(names["res"][11]) == 646
    # Target order: by folder, each folder shuffled; the first target is source entry 646.
    target_names = []
    for folder in TARGET_FOLDER_ORDER:
        group = list(names[folder])
        rng.shuffle(group)
        if folder == "res":
            group.remove(names["res"][11])
            group.insert(0, names["res"][11])
        if folder == "fpack":
            # The four first source files are larger than most: keep them in a run of large files.
            for n in names["fpack"][:4]:
                group.remove(n)
            for k, n in enumerate(names["fpack"][:4]):
                group.insert(1287 - 951 + 10 + 7 * k, n)
        target_names.extend(group)
    assert len(target_names) == 1594

    size = {}
    size[names["res"][11]] = 2
    for n, s in zip(names["fpack"][:4], SOURCE_FIRST_SIZES):
        size[n] = s
    for n, (_, length) in zip(names["vpackj"], VPACKJ_RANGES):
        size[n] = length // SECTOR
    size[target_names[-1]] = 8

    # Sizes of each contiguous run of targets add up to the distance to the next run.
    target_sector = [0] * 1594
    bounds = [r[0] for r in TARGET_RUNS] + [1594]
    ends = [TARGET_RUNS[k + 1][1] for k in range(len(TARGET_RUNS) - 1)]
    run_ends = [3739, 16913, 30401, 57082, TARGET_END]
    del ends
    for k, (first, sector) in enumerate(TARGET_RUNS):
        members = target_names[first:bounds[k + 1]]
        free = [n for n in members if n not in size]
        fixed = sum(size[n] for n in members if n in size)
        for n, s in zip(free, composition(rng, run_ends[k] - sector - fixed, len(free), 1, 2000)):
            size[n] = s
        for i in range(first, bounds[k + 1]):
            target_sector[i] = sector
            sector += size[target_names[i]]
        assert sector == run_ends[k]

    # Source sectors: contiguous but for 20 files whose distance to the next exceeds their size.
    vpackj_sectors = [off // SECTOR - BASE_SECTOR for off, _ in VPACKJ_RANGES]
    first_vpackj = 1586
    gap_after = {}
    for j in range(first_vpackj, 1593):
        gap_after[j] = vpackj_sectors[j - first_vpackj + 1] - vpackj_sectors[j - first_vpackj] \
            - size[source_names[j]]
    # Two gaps before entry 646, eleven after it (the last res file among them).
    head = sum(size[n] for n in source_names[:646])
    head_gaps = composition(rng, GAP_BEFORE_ENTRY_646 - head, 2, 1, 10 ** 9)
    gap_after[631] = head_gaps[0]       # last fpack file
    gap_after[634] = head_gaps[1]       # last modules file
    tail = sum(size[n] for n in source_names[646:first_vpackj])
    tail_total = vpackj_sectors[0] - GAP_BEFORE_ENTRY_646 - tail
    tail_places = sorted(rng.sample(range(646, first_vpackj - 1), 10)) + [first_vpackj - 1]
    for j, g in zip(tail_places, composition(rng, tail_total, 11, 1, 10 ** 9)):
        gap_after[j] = g
    assert len(gap_after) == 20
    source_sector = [0] * 1594
    for j in range(1, 1594):
        source_sector[j] = source_sector[j - 1] + size[source_names[j - 1]] + gap_after.get(j - 1, 0)
    assert source_sector[646] == GAP_BEFORE_ENTRY_646
    assert source_sector[first_vpackj:] == vpackj_sectors

    targets = [(n, target_sector[i], size[n]) for i, n in enumerate(target_names)]
    sources = [(n, source_sector[j]) for j, n in enumerate(source_names)]
    return targets, sources


def bank_tables(rng):
    sets = []
    for entries, end, first3, last, smallest, largest in BANK_SETS:
        s = SECTOR
        fixed = [(first3[1] - first3[0]) // s, (first3[2] - first3[1]) // s]
        last_piece = (end - last) // s
        middle_total = (last - first3[2]) // s
        middle_count = entries - 3
        must = [v for v in (smallest // s, largest // s) if v not in fixed + [last_piece]]
        middle = must + composition(rng, middle_total - sum(must), middle_count - len(must),
                                    smallest // s, largest // s)
        rng.shuffle(middle)
        pieces = fixed + middle + [last_piece]
        offsets = [0]
        for p in pieces[:-1]:
            offsets.append(offsets[-1] + p * s)
        assert offsets[:3] == list(first3) and offsets[-1] == last and len(offsets) == entries
        assert min(pieces) * s == smallest and max(pieces) * s == largest
        sets.append(offsets)
    return sets


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "src", "rebuild")
    rng = random.Random(SEED)
    targets, sources = relocation_tables(rng)
    banks = bank_tables(rng)
    note = "# Stand-in values made by tools/make-rebuild-tables/make_rebuild_tables.py; do not edit.\n"
    with open(os.path.join(out_dir, "relocation_targets.tsv"), "w", newline="\n") as f:
        f.write(note + "# name\ttarget_sector\tsize_sectors (target order)\n")
        for n, sector, size in targets:
            f.write("%s\t%d\t%d\n" % (n, sector, size))
    with open(os.path.join(out_dir, "relocation_sources.tsv"), "w", newline="\n") as f:
        f.write(note + "# name\tsource_sector (source order, from base sector 7303)\n")
        for n, sector in sources:
            f.write("%s\t%d\n" % (n, sector))
    with open(os.path.join(out_dir, "sound_banks.tsv"), "w", newline="\n") as f:
        f.write(note + "# set\toffset (bytes from the first byte the set writes)\n")
        for k, offsets in enumerate(banks):
            for o in offsets:
                f.write("%d\t%d\n" % (k + 1, o))


if __name__ == "__main__":
    main()
