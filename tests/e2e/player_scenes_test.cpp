// What a player sees and keeps: each scene is the files a folder holds, something done
// to the run, the exact console output and the files left after it. Every run also
// proves that no image was opened for writing and that nothing else appeared or went.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "app/identification.h"
#include "app/run_patching.h"
#include "e2e_support.h"
#include "expected_texts.h"

namespace fs = std::filesystem;

namespace {

// SOURCELESS: a patch of new bytes alone, which applies to the European intermediate image too.
// LONG_PATCH: 96 MiB of output, long enough to be stopped half-way.
// US_RIGHT_CRC: the US image with the CRC32 of the real dump. FULL_OUTPUT: an old output of the patched size.
enum Content { US, EU, PATCH, LONG_PATCH, BAD_CRC, CUT, TEXT, FOLDER, LINK, HARD_LINK, WRONG_BOOT, WRONG_MARKER,
               NO_TERMINATOR, US_PLUS_4G, SOURCELESS, US_RIGHT_CRC, FULL_OUTPUT };
enum After { GONE, OUTPUT, KEPT };   // deleted, the patched image, or made and left, whatever it holds
// A disturbance in FAULTS runs the fault-injection program with that fault armed (WRITE_FAILS ends a
// European run early; on Linux, which maps the image while it patches and hands the output to the disk
// as it writes it, CRC_READ_FAILS is the first read of the image's CRC32 and WRITE_OUT_FAILS the first
// range handed over): the row fails unless the fault fired, and a success must have reached the disk
// (ON_THE_DISK arms nothing). SIGNALS: the signal sent at the first progress line. KILLED: killed with
// SIGKILL half-way, then run again. KEY_ON_TERMINAL, CTRL_C_ON_TERMINAL: the run on a terminal, ended at
// the prompt by 'x' or Ctrl+C. READ_ONLY: as nobody, the scene's folder "ro" not writable. SECOND_RUN:
// stopped at its first progress line while the same program runs once more in the same folder.
// IN_TEMPORARY_FOLDER: the scene's folder is the system's temporary folder (Wine's is in its prefix: the
// start folder is made there). ON_FAT: the fault-injection
// program answering as a FAT32 or exFAT volume. A disturbance in HOLDS has hold-file.exe hold a file as
// HOLDS says while the program runs; CTRL_C_WHILE_HELD also sends Ctrl+C at 3 %.
enum Disturbance { NONE, CTRL_C_AT_PROMPT, AS_NOBODY, DRIVE_ROOT, ON_THE_DISK, WRITE_FAILS, FLUSH_FAILS, RENAME_FAILS,
                   OUTPUT_CLOSE_FAILS, FOLDER_FLUSH_FAILS, CRC_READ_FAILS, WRITE_OUT_FAILS, CONSOLE_CLOSED, CTRL_C,
                   HANG_UP, TERMINATED, QUIT, KILLED, KEY_ON_TERMINAL, CTRL_C_ON_TERMINAL, READ_ONLY, SECOND_RUN,
                   IN_TEMPORARY_FOLDER, ON_FAT, PART_HELD, PART_HELD_LONG, OUTPUT_HELD, OUTPUT_HELD_SHARING_DELETE,
                   CTRL_C_WHILE_HELD, SHRINK_IMAGE, REMOVE_PATCH, REMOVE_IMAGE };
const std::map<Disturbance, std::string> FAULTS = {{ON_THE_DISK, ""}, {WRITE_FAILS, "write:temp:2:fail"},
    {FLUSH_FAILS, "sync:part:1:fail"}, {RENAME_FAILS, "rename:part:1:fail"}, {OUTPUT_CLOSE_FAILS, "close:part:1:fail"},
    {FOLDER_FLUSH_FAILS, "sync:folder:1:fail"}, {CRC_READ_FAILS, "read:image:4:fail"},
    {WRITE_OUT_FAILS, "writeout:part:1:fail"}};
const std::map<Disturbance, int> SIGNALS = {{CTRL_C, SIGINT}, {HANG_UP, SIGHUP}, {TERMINATED, SIGTERM}, {QUIT, SIGQUIT}};
// The file, "none" or "delete" sharing, for how many seconds, and whether to wait for it to appear.
struct Hold {
    std::string path, sharing;
    int seconds;
    bool wait;
};
const std::map<Disturbance, Hold> HOLDS = {{PART_HELD, {"game_patched.iso.part", "none", 3, true}},
    {PART_HELD_LONG, {"game_patched.iso.part", "none", 45, true}}, {OUTPUT_HELD, {"game_patched.iso", "none", 60, false}},
    {OUTPUT_HELD_SHARING_DELETE, {"game_patched.iso", "delete", 60, false}},
    {CTRL_C_WHILE_HELD, {"game_patched.iso.part", "none", 20, true}}};
enum Where { BOTH, NATIVE, WINE };

struct File {
    std::string path;
    Content content;
    std::string text = "";   // TEXT: the bytes; LINK, HARD_LINK: the target
};
// `first` must be listed before `second` in their folder for the row to show what it is
// about; `free_name`: the name of `first` appears nowhere in the output.
struct Order {
    std::string first, second;
    bool free_name = false;
};
struct Scene {
    std::string name;
    std::vector<File> files;
    std::string output;   // the whole console output (REBUILD_LINES stands for the rebuild's progress lines)
    std::vector<std::pair<std::string, After>> after;
    Disturbance disturbance = NONE;
    Where where = BOTH;
    std::string start = "";   // the folder the program starts in, below the scene's
    std::vector<Order> order = {};
    std::string free_space = "";   // bytes the volume has free, as the fault-injection program sees it
};

const std::string US_PATCH = "OV1_Patch_US-FR_v1.xdelta", EU_PATCH = "OV1_Patch_EU-FR_v1.xdelta";
// As many progress lines as the rebuild's steps write, from 0 to 50 %; any number of progress lines.
const std::string REBUILD_LINES = "<the rebuild's progress lines>", SOME_LINES = "<progress lines>";

// A window of one byte (still in the stream's buffer when the output is first handed to the
// disk), then twelve of 8 MiB, each one byte repeated.
Bytes long_patch(std::string* expected) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    expected->clear();
    for (int index = -1; index < 12; ++index) {
        const auto byte = static_cast<std::uint8_t>('a' + index);
        const std::uint32_t size = index < 0 ? 1 : 8u << 20;
        InstructionEncoder encoder;
        encoder_start(&encoder, 0);
        encode_run(&encoder, byte, size);
        write_window(&sink, checked_window(&encoder));
        expected->append(size, static_cast<char>(byte));
    }
    return patch;
}

void make(const fs::path& path, const File& file, std::string* expected) {
    fs::create_directories(path.parent_path());
    const std::string eu_boot = std::string("cdrom0:\\SXES_608.42;1", 21);
    Bytes patch;
    switch (file.content) {
        case US: return make_us_image(path);
        case US_RIGHT_CRC: return make_sparse_file(path, US_SIZE, us_image_contents(US_DUMP_CRC));
        case FULL_OUTPUT: return make_sparse_file(path, 2620872704u, {});
        case EU: return make_eu_image(path);
        case PATCH: return write_file(path, small_us_patch(expected));
        case LONG_PATCH: return write_file(path, long_patch(expected));
        case BAD_CRC: return write_file(path, small_us_patch(expected, 3));
        case CUT:   // the first windows decode, then the patch ends
            patch = small_us_patch(expected);
            patch.resize(patch.size() / 2);
            return write_file(path, patch);
        case TEXT: return write_file(path, file.text);
        case FOLDER: fs::create_directory(path); return;
        case LINK: return fs::create_symlink(file.text, path);
        case HARD_LINK: return fs::create_hard_link(path.parent_path() / file.text, path);
        case WRONG_BOOT: return make_sparse_file(path, US_SIZE, {{13093328, "cdrom0:\\SLUS_000.00;1"}});
        case WRONG_MARKER: return make_sparse_file(path, US_SIZE, {us_identity()[0], {14500752, "\x82\x62\x82\x80"}});
        case NO_TERMINATOR: return make_sparse_file(path, EU_SIZE, {{12693144, eu_boot + "X"}});
        case US_PLUS_4G:   // the US size in its low 32 bits
            return make_sparse_file(path, US_SIZE + (std::uint64_t{1} << 32), us_identity());
        case SOURCELESS: {
            InstructionEncoder encoder;
            encoder_start(&encoder, 0);
            encode_run(&encoder, 0xEE, 5000);
            Bytes target;
            write_file(path, patch_bytes({checked_window(&encoder, {}, 0, &target)}));
            expected->assign(target.begin(), target.end());
            return;
        }
    }
}

// A path below `folder` whose full path, as the program sees it, takes `units` UTF-16
// units: an emoji, then Japanese letters in folders of 78 (NAME_MAX leaves room for
// "_patched.iso"), then `ending`.
std::string path_of_units(const fs::path& folder, std::size_t units, const std::string& ending) {
    std::size_t left = units - (running_windows_program() ? 2 : 0) - 1 - 2 - ending.size();   // Z:, '/', emoji
    for (char c : folder.string()) {
        const auto byte = static_cast<unsigned char>(c);
        left -= (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
    }
    std::string path = "🎮";
    for (std::size_t at = 1; left > 0; --left, ++at) path += at % 79 == 0 && left > 1 ? "/" : "ゲ";
    return path + ending;
}

std::string patched(const std::string& image) { return image.substr(0, image.size() - 4) + OUTPUT_SUFFIX; }


std::string us_start(const std::string& image = "game.iso") { return banner() + us_detected(image) + patching(); }
std::string us_failed(const std::string& reason = "") { return us_start() + patch_failed() + reason + press_key(); }
std::string succeeded(const std::string& image, const std::string& output) {
    return us_start(image) + patch_succeeded(output) + press_key();
}
std::string no_patch(const std::string& image, bool european = false, const std::string& reason = "") {
    return banner() + (european ? eu_detected(image) + eu_patch_missing() : us_detected(image) + us_patch_missing()) +
           reason + press_key();
}

std::vector<Scene> scenes(const fs::path& folder) {
    const File us{"game.iso", US}, patch{US_PATCH, PATCH}, old_output{"game_patched.iso", TEXT, "old"};
    const File eu{"game.iso", EU}, eu_patch{EU_PATCH, TEXT, "x"}, any_patch{"OV1_Patch_XX-FR_v1.xdelta", PATCH};
    const File long_patch{US_PATCH, LONG_PATCH};
    const std::string us_interrupted = us_start() + SOME_LINES + patch_failed();
    const std::string part = "game_patched.iso.part";
    std::string deep = "deep";
    for (int level = 0; level < 300; ++level) deep += "/d";
    const std::string accented = "Mes Jeux été/", in_sub = "sous dossier/Orvélia";
    const std::string latin1 = "caf\xE9/x \xE9";
    const std::string not_found = banner() + image_not_found() + press_key();
    const std::string eu_start = banner() + eu_detected("game.iso") + patching();
    const std::string temp_refused = eu_start + temp_create_failed() + press_key();
    const std::string rebuild_failed = eu_start + progress(0) + patch_failed() + write_failed("game_temp.iso") + press_key();
    const std::string patch_too_deep = path_of_units(folder, 255, "/" + US_PATCH);
    const std::string eu_success = eu_start + REBUILD_LINES + progress(50) + patch_succeeded("game_patched.iso") + press_key();
    const std::string long_success =
        us_start() + progress(1) + progress(2) + progress(3) + patch_succeeded("game_patched.iso") + press_key();
    // Names in any letters in every part of both paths (the patch's prefix as it must be).
    const std::string french = "Jeux vidéo/Éric/Orvelia été.iso", other = "Игры/オルヴェリア 🎮.iso";
    const std::string european = "Jeux vidéo 🎮/Орвелия ゲーム.iso";
    // Paths at the limit and one unit past it: the image's, and the longest name the program
    // writes (the image's with the longest suffix it adds in place of ".iso": the part file's).
    const std::size_t output_room = 254 + 4 - LONGEST_SUFFIX_LENGTH;
    const std::string image_at_limit = path_of_units(folder, 254, ".iso");
    const std::string image_past_limit = path_of_units(folder, 255, ".iso");
    const std::string output_at_limit = path_of_units(folder, output_room, ".iso");
    const std::string output_past_limit = path_of_units(folder, output_room + 1, ".iso");
    // A Windows console seen through a terminal shows the exact letters (Wine's terminal
    // console cannot show an emoji: it sends each half of the pair as U+FFFD).
    const std::string on_terminal = "Игры ゲーム/Orvelia été.iso";
    expect_terminal_view = true;
    const std::string terminal_success = succeeded(on_terminal, patched(on_terminal));
    const std::string terminal_not_found = banner() + image_not_found() + press_key();
    expect_terminal_view = false;
    return {
        {"NoImage", {{"readme.txt", TEXT, "hello"}}, not_found, {}},
        {"ImagesThatAreNotOrvelia", {{"small.iso", TEXT, "x"}, {"wrongboot.iso", WRONG_BOOT},
          {"wrongmarker.iso", WRONG_MARKER}, {"noterminator.iso", NO_TERMINATOR}, {"huge.iso", US_PLUS_4G}},
         not_found, {}},
        {"UsImageWithoutPatch", {{"sub/game.iso", US}}, no_patch("sub/game.iso"), {}},
        {"OnlyTheEuropeanPatchNameCounts", {{"Orvelia.ISO", EU}, {"OV1_Patch_US-FR_v2.xdelta", TEXT, "x"},
          {"OV1_Patch_EU-FR.xdelta", TEXT, "x"}, {"OV1_Patch_EU-FR_v2.xdelta.txt", TEXT, "x"}},
         no_patch("Orvelia.ISO", true), {}},
        {"ImageThatCannotBeOpened", {{"x.iso", LINK, "nowhere"}},
         banner() + image_open_failed("x.iso") + press_key(), {}, NONE, NATIVE},
        {"ImagePathTooLongIsPassedOver", {{std::string(120, 'd') + "/" + std::string(120, 'e') + "/deep.iso", US},
          {"short/game.iso", EU}}, no_patch("short/game.iso", true), {}, NONE, BOTH, "",
         {{std::string(120, 'd'), "short", true}}},
        {"PatchPrefixIsCaseSensitive", {us, {"ov1_patch_us-fr_v2.xdelta", TEXT, "x"}}, no_patch("game.iso"), {}},
        {"PatchExtensionIsNot", {us, {"patches/OV1_Patch_US-FR_v2.XDELTA", TEXT, "not a patch"}},
         us_failed(patch_damaged("patches/OV1_Patch_US-FR_v2.XDELTA")), {}},
        {"PatchPathPastTheLimit", {us, {patch_too_deep, PATCH}}, no_patch("game.iso", false, path_too_long(patch_too_deep)),
         {}},
        {"OtherReleasesPatchPastTheLimitGoesUnnamed", {us, {path_of_units(folder, 255, "/" + EU_PATCH), PATCH}},
         no_patch("game.iso"), {}},
        {"Success", {us, patch}, succeeded("game.iso", "game_patched.iso"), {{"game_patched.iso", OUTPUT}}},
        {"SuccessReachesTheDisk", {us, patch}, succeeded("game.iso", "game_patched.iso"), {{"game_patched.iso", OUTPUT}},
         ON_THE_DISK},
        // A checksum failure tells a bad dump (its CRC32 is not the expected one) from a bad patch.
        {"ChecksumFailure", {us, {US_PATCH, BAD_CRC}, old_output},
         us_start() + crc_lines() + crc_failed("game.iso") +
             crc_found("game.iso", sparse_crc32(US_SIZE, us_image_contents()), US_DUMP_CRC) + press_key(),
         {{"game_patched.iso", GONE}}},
        {"ChecksumFailureWithTheRightDump", {{"game.iso", US_RIGHT_CRC}, {US_PATCH, BAD_CRC}},
         us_start() + crc_lines() + patch_not_for_image(US_PATCH) + crc_found("game.iso", US_DUMP_CRC, US_DUMP_CRC) +
             press_key(), {}},
        {"ChecksumFailureThenTheImageUnreadable", {us, {US_PATCH, BAD_CRC}}, us_start() + crc_failed("game.iso") +
         press_key(), {}, CRC_READ_FAILS, NATIVE},
        {"CutPatchAndAnOldOutputGoes", {us, {US_PATCH, CUT}, old_output}, us_failed(patch_damaged(US_PATCH)),
         {{"game_patched.iso", GONE}}},
        // A patch that ends inside its file header, or right after it, holds no window: no success.
        {"PatchCutInItsHeader", {us, {US_PATCH, TEXT, "ab"}, old_output}, us_failed(patch_damaged(US_PATCH)),
         {{"game_patched.iso", GONE}}},
        {"PatchOfAHeaderAlone", {us, {US_PATCH, TEXT, std::string("\xD6\xC3\xC4\0\0", 5)}, old_output},
         us_failed(patch_damaged(US_PATCH)), {{"game_patched.iso", GONE}}},
        {"FolderNamedLikeTheOutputStays", {us, patch, {"game_patched.iso", FOLDER}},
         us_failed(folder_in_the_way("game_patched.iso")), {}},
        // Too little room is found before anything is written; what the run deletes counts as room.
        {"NoRoomForTheUsOutput", {us, patch, old_output}, us_failed(no_space("game.iso", "2,7", "2,6")), {}, NONE, BOTH,
         "", {}, "2620872700"},
        {"RoomOfAnOldOutputIsEnough", {us, patch, {"game_patched.iso", FULL_OUTPUT}},
         succeeded("game.iso", "game_patched.iso"), {{"game_patched.iso", OUTPUT}}, NONE, BOTH, "", {}, "0"},
        {"NoRoomOnTheEuropeanPath", {eu, eu_patch}, eu_start + patch_failed() + no_space("game.iso", "5,3", "5,2") +
         press_key(), {}, NONE, BOTH, "", {}, "5220554751"},
        // One run per image: a second one started while the first writes touches nothing of it.
        {"SecondRunOnAUsImage", {us, {US_PATCH, LONG_PATCH}}, long_success, {{"game_patched.iso", OUTPUT}}, SECOND_RUN},
        {"SecondRunOnAEuropeanImage", {eu, {EU_PATCH, SOURCELESS}}, eu_success, {{"game_patched.iso", OUTPUT}},
         SECOND_RUN},
        {"ImageInAFolderWithoutWriteAccess", {{"ro/game.iso", US}, {"ro/" + US_PATCH, PATCH}},
         us_start("ro/game.iso") + patch_failed() + cannot_write_here((folder / "ro").string()) + press_key(), {},
         READ_ONLY, NATIVE},
        {"StartedFromTheTemporaryFolder", {{"Temp1_Orvelia.zip/LISEZMOI.txt", TEXT, "x"}},
         banner() + image_not_found() + in_temporary_folder((folder / "Temp1_Orvelia.zip").string()) + press_key(), {},
         IN_TEMPORARY_FOLDER, BOTH, "Temp1_Orvelia.zip"},
        // The temporary folder below the start folder, not around it: no hint.
        {"StartedAboveTheTemporaryFolder", {{"tmp/LISEZMOI.txt", TEXT, "x"}}, not_found, {}, IN_TEMPORARY_FOLDER,
         NATIVE},
        // The output appears only whole and on the disk: every failure on the way leaves nothing, and a
        // run killed half-way leaves no output (only its part file, which the next run replaces).
        {"FlushToTheDiskFails", {us, patch, old_output}, us_failed(write_failed(part)), {{"game_patched.iso", GONE}},
         FLUSH_FAILS},
        // A finished image that cannot take its name is kept under the part file's.
        {"RenameFails", {us, patch, old_output}, us_start() + output_kept("game_patched.iso", part) + press_key(),
         {{"game_patched.iso", GONE}, {part, OUTPUT}}, RENAME_FAILS},
        {"OutputCloseFails", {us, patch, old_output}, us_failed(write_failed(part)), {{"game_patched.iso", GONE}},
         OUTPUT_CLOSE_FAILS},
        {"NewNameNotOnTheDisk", {us, patch, old_output}, us_failed(write_failed(part)), {{"game_patched.iso", GONE}},
         FOLDER_FLUSH_FAILS},
        {"HandingToTheDiskFails", {us, long_patch}, us_failed(write_failed(part)), {}, WRITE_OUT_FAILS, NATIVE},
        // Stopped while it writes: the failure, no prompt, nothing left. Wine turns SIGINT alone into a
        // console event; the other signals end a Windows program at once, as the Task Manager would.
        {"InterruptedByCtrlCInThePatch", {us, long_patch}, us_interrupted, {}, CTRL_C},
        {"InterruptedByHangUpInThePatch", {us, long_patch}, us_interrupted, {}, HANG_UP, NATIVE},
        {"InterruptedByTermInThePatch", {us, long_patch}, us_interrupted, {}, TERMINATED, NATIVE},
        {"InterruptedByQuitInThePatch", {us, long_patch}, us_interrupted, {}, QUIT, NATIVE},
        {"InterruptedByCtrlCInTheRebuild", {eu, eu_patch}, eu_start + SOME_LINES + patch_failed(), {}, CTRL_C},
        {"KilledHalfWayThenRunAgain", {us, long_patch}, long_success, {{"game_patched.iso", OUTPUT}}, KILLED},
        // A virus scanner reads the part file as soon as it is closed: the run waits for it, then names it.
        {"PartFileHeldForAMoment", {us, long_patch}, long_success, {{"game_patched.iso", OUTPUT}}, PART_HELD, WINE},
        // Held for longer than the waiting: the finished image is kept under the part file's name.
        {"PartFileHeldForLong", {us, long_patch},
         us_start() + progress(1) + progress(2) + progress(3) + output_kept("game_patched.iso", part) + press_key(),
         {{part, OUTPUT}}, PART_HELD_LONG, WINE},
        // An emulator has the old output open, with or without delete sharing: found before anything is written.
        {"OldOutputHeldByAnotherProgram", {us, patch, old_output}, us_failed(output_held("game_patched.iso")), {},
         OUTPUT_HELD, WINE},
        {"OldOutputHeldWithDeleteSharing", {us, patch, old_output}, us_failed(output_held("game_patched.iso")), {},
         OUTPUT_HELD_SHARING_DELETE, WINE},
        // Ctrl+C stops the waiting at once: the held part file stays, there is no output.
        {"CtrlCWhileThePartFileIsHeld", {us, long_patch}, us_start() + progress(1) + progress(2) + progress(3) +
         patch_failed(), {{part, KEPT}}, CTRL_C_WHILE_HELD, WINE},
        // USB sticks and SD cards: FAT32 and exFAT answer fewer questions, and the program's own files still go.
        {"OnFatTheIntermediateImageGoes", {eu, {EU_PATCH, SOURCELESS}}, eu_success, {{"game_patched.iso", OUTPUT}},
         ON_FAT, WINE},
        {"OnFatLeftoversOfAKilledRunGo", {eu, {EU_PATCH, SOURCELESS}, {"game_temp.iso", TEXT, "left"},
          {part, TEXT, "left"}}, eu_success, {{"game_temp.iso", GONE}, {part, GONE}, {"game_patched.iso", OUTPUT}},
         ON_FAT, WINE},
        // The part file's name is the program's own, like the intermediate image's. Links made from
        // Linux are native only: Wine follows them on every deletion and cannot see a dangling one.
        {"PartNameIsAFolder", {us, patch, {part, FOLDER}, old_output}, us_failed(folder_in_the_way(part)), {}},
        {"PartNameIsAFolderOnTheEuropeanPath", {eu, eu_patch, {part, FOLDER}, old_output},
         eu_start + patch_failed() + folder_in_the_way(part) + press_key(), {}},
        {"PartNameIsALeftoverFile", {us, patch, {part, TEXT, "left"}}, succeeded("game.iso", "game_patched.iso"),
         {{part, GONE}, {"game_patched.iso", OUTPUT}}},
        {"PartNameIsALinkToTheImage", {us, patch, {part, LINK, "game.iso"}},
         succeeded("game.iso", "game_patched.iso"), {{part, GONE}, {"game_patched.iso", OUTPUT}}, NONE, NATIVE},
        {"PartNameIsAHardLinkToTheImage", {us, patch, {part, HARD_LINK, "game.iso"}},
         succeeded("game.iso", "game_patched.iso"), {{part, GONE}, {"game_patched.iso", OUTPUT}}},
        // The intermediate image's name is the program's own: a leftover file or link goes, never
        // followed; only a folder stops the run. A failed rebuild keeps an old output.
        {"IntermediateNameIsAFolder", {eu, eu_patch, {"game_temp.iso", FOLDER}, old_output}, temp_refused, {}},
        {"IntermediateNameIsALeftoverFile", {eu, eu_patch, {"game_temp.iso", TEXT, "left"}, old_output}, rebuild_failed,
         {{"game_temp.iso", GONE}}, WRITE_FAILS},
        {"IntermediateNameIsALinkToTheImage", {eu, eu_patch, {"game_temp.iso", LINK, "game.iso"}}, rebuild_failed,
         {{"game_temp.iso", GONE}}, WRITE_FAILS, NATIVE, "", {{"game.iso", "game_temp.iso"}}},
        {"IntermediateNameIsAHardLinkToTheImage", {eu, eu_patch, {"game_temp.iso", HARD_LINK, "game.iso"}},
         rebuild_failed, {{"game_temp.iso", GONE}}, WRITE_FAILS, BOTH, "", {{"game.iso", "game_temp.iso"}}},
        {"IntermediateNameIsADanglingLink", {eu, eu_patch, {"game_temp.iso", LINK, "nowhere"}}, rebuild_failed,
         {{"game_temp.iso", GONE}}, WRITE_FAILS, NATIVE, "", {{"game.iso", "game_temp.iso"}}},
        // A console whose reader has gone changes nothing: the run goes on to its end.
        {"ConsoleClosed", {us, patch}, "", {{"game_patched.iso", OUTPUT}}, CONSOLE_CLOSED},
        // A lone Latin-1 byte, as older tools leave names (the accented start folder has UTF-8).
        {"Latin1Names", {{latin1 + ".iso", US}, patch}, succeeded(latin1 + ".iso", latin1 + "_patched.iso"),
         {{latin1 + "_patched.iso", OUTPUT}}, NONE, NATIVE},
        {"StartFolderWithSpacesAndAccents", {{accented + in_sub + ".iso", US}, {accented + US_PATCH, PATCH}},
         succeeded(in_sub + ".iso", in_sub + "_patched.iso"),
         {{accented + in_sub + "_patched.iso", OUTPUT}}, NONE, BOTH, accented},
        {"FrenchNames", {{french, US}, {"Téléchargements/OV1_Patch_US-FR_é.xdelta", PATCH}},
         succeeded(french, patched(french)), {{patched(french), OUTPUT}}},
        {"NamesInOtherScripts", {{other, US}, {"Ελληνικά 🎮/OV1_Patch_US-FR_é Игры ゲーム.xdelta", PATCH}},
         succeeded(other, patched(other)), {{patched(other), OUTPUT}}},
        {"EuropeanNamesInAnyLetters",
         {{european, EU}, {"Téléchargements Игры/OV1_Patch_EU-FR_é ゲーム 🎮.xdelta", SOURCELESS}},
         banner() + eu_detected(european) + patching() + REBUILD_LINES + progress(50) +
             patch_succeeded(patched(european)) + press_key(),
         {{patched(european), OUTPUT}}},
        {"ImagePathAtTheLimit", {{image_at_limit, US}, patch},
         us_start(image_at_limit) + patch_failed() + names_too_long(image_at_limit) + press_key(), {}},
        {"ImagePathPastTheLimit", {{image_past_limit, US}, patch},
         banner() + image_not_found() + path_too_long(image_past_limit) + press_key(), {}},
        {"WrittenNamesAtTheLimit", {{output_at_limit, US}, patch}, succeeded(output_at_limit, patched(output_at_limit)),
         {{patched(output_at_limit), OUTPUT}}},
        {"WrittenNamesPastTheLimit", {{output_past_limit, US}, patch},
         us_start(output_past_limit) + patch_failed() + names_too_long(output_past_limit) + press_key(), {}},
        {"ImageOnlyThroughAFolderLink", {{"elsewhere/game.iso", US}, {"start/link", LINK, "../elsewhere"}}, not_found,
         {}, NONE, BOTH, "start"},
        {"LinkLoops", {{"loops/self", LINK, "."}, {"loops/parent", LINK, ".."}, {"loops/start", LINK, folder.string()},
          {"z/game.iso", US}}, no_patch("z/game.iso"), {}},
        {"DeepTree", {{deep + "/toodeep.iso", US}, {"z/game.iso", US}}, no_patch("z/game.iso"), {}, NONE, BOTH, "",
         {{"deep", "z", true}}},
        {"LockedFoldersArePassedOver", {{"open/game.iso", US}}, no_patch("open/game.iso"), {}, AS_NOBODY, NATIVE},
        {"CtrlCAtThePrompt", {}, not_found, {}, CTRL_C_AT_PROMPT},
        // The closing prompt on a terminal: one key, not echoed, and the terminal as it was.
        {"OneKeyOnATerminal", {{on_terminal, US}, patch}, terminal_success, {{patched(on_terminal), OUTPUT}},
         KEY_ON_TERMINAL},
        // (Wine's terminal console echoes "^C" itself: the Windows prompt's Ctrl+C is CtrlCAtThePrompt's.)
        {"CtrlCOnATerminalAtThePrompt", {}, terminal_not_found, {}, CTRL_C_ON_TERMINAL, NATIVE},
        {"RootOfADrive", {{"sub/game.iso", US}, patch}, succeeded("sub/game.iso", "sub/game_patched.iso"),
         {{"sub/game_patched.iso", OUTPUT}}, DRIVE_ROOT, WINE},
        // Files that shrink or vanish between identification and their use, in-process.
        {"UsImageShrinksAfterIdentification", {us, any_patch}, patching() + patch_failed(), {}, SHRINK_IMAGE, NATIVE},
        {"PatchVanishesAfterIdentification", {us, any_patch}, patching() + patch_failed(),
         {{"OV1_Patch_XX-FR_v1.xdelta", GONE}}, REMOVE_PATCH, NATIVE},
        {"EuropeanImageVanishesBeforeTheRebuild", {eu, any_patch}, patching() + progress(0) + patch_failed(),
         {{"game.iso", GONE}}, REMOVE_IMAGE, NATIVE},
        {"EuropeanImageShrinksBeforeTheRebuild", {eu, any_patch}, patching() + progress(0) + patch_failed(), {},
         SHRINK_IMAGE, NATIVE},
    };
}

// Every path below `folder`, links not followed (nor resolved: a link keeps its own name).
std::set<std::string> tree(const fs::path& folder) {
    std::set<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        paths.insert(it->path().lexically_relative(folder).string());
    }
    return paths;
}

void copy_text(char (&out)[PATH_BUFFER_SIZE], const std::string& text) {
    ASSERT_LT(text.size(), sizeof out);
    std::memcpy(out, text.c_str(), text.size() + 1);
}

// The run up to the choice of the patch done by hand, `disturbance` done to the folder,
// then the patching; what it prints.
std::string run_in_process(const fs::path& folder, bool european, Disturbance disturbance) {
    PatchJob job{};
    job.image_fd = job.temp_fd = -1;
    copy_text(job.start_folder, folder.string());
    copy_text(job.image_path, (folder / "game.iso").string());
    copy_text(job.display_path, "game.iso");
    copy_text(job.patch_path, "OV1_Patch_XX-FR_v1.xdelta");
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(identify_image(job), european ? IMAGE_EU : IMAGE_US);
    job.region = european ? ::EU : ::US;
    if (disturbance == SHRINK_IMAGE) fs::resize_file("game.iso", european ? 100u << 20 : 16u << 20);
    if (disturbance != SHRINK_IMAGE) fs::remove(disturbance == REMOVE_PATCH ? job.patch_path : "game.iso");
    testing::internal::CaptureStdout();
    run_patching(job);
    fs::current_path(previous);
    return testing::internal::GetCapturedStdout();
}

// `output` with the token `expected` has (REBUILD_LINES, SOME_LINES) in place of the lines it stands for.
std::string as_expected(const std::string& output, const std::string& expected) {
    for (const std::string& token : {REBUILD_LINES, SOME_LINES}) {
        const std::size_t at = expected.find(token);
        if (at == std::string::npos || output.compare(0, at, expected, 0, at) != 0) continue;
        std::size_t end = at;
        for (std::size_t line_end; output.compare(end, 13, "Progression: ") == 0 &&
                                   (line_end = output.find('\r', end)) != std::string::npos;) {
            end = line_end + 1;
        }
        const std::string lines = output.substr(at, end - at);
        // The rebuild's lines go from 0 to 50 %, before the driver's own 50 %.
        const bool rebuild = lines.starts_with(progress(0)) && lines.ends_with(progress(50) + progress(50));
        if (token == REBUILD_LINES && !rebuild) return output;
        if (token == REBUILD_LINES) end -= progress(50).size();
        return output.substr(0, at) + token + output.substr(end);
    }
    return output;
}

bool listed_before(const fs::path& folder, const std::string& first, const std::string& second) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name == first || name == second) return name == first;
    }
    return false;
}

// Where a listing keeps the order of creation, a renamed entry moves to one end of it;
// where it follows a hash of the names, only another name moves an entry.
void list_before(const fs::path& folder, const Order& order) {
    std::string first = order.first;
    for (int attempt = 0; attempt < 40 && !listed_before(folder, first, order.second); ++attempt) {
        if (order.free_name && attempt >= 2) {
            const std::string renamed = order.first + std::to_string(attempt);
            fs::rename(folder / first, folder / renamed);
            first = renamed;
            continue;
        }
        const std::string& moved = attempt % 2 == 0 ? first : order.second;
        fs::rename(folder / moved, folder / (moved + "~"));
        fs::rename(folder / (moved + "~"), folder / moved);
    }
    ASSERT_TRUE(listed_before(folder, first, order.second))
        << "this file system lists " << order.second << " before " << order.first << ": the row would show nothing";
}

// Folders the program may not list, created until one comes before the open folder
// and one after it in listing order: the walk must go on past each.
void lock_folders_around(const fs::path& folder, const std::string& open) {
    for (int made = 0; made < 40; ++made) {
        // Built by appending: gcc 12 warns falsely (-Wrestrict) on literal + std::string.
        const fs::path locked = folder / std::string("locked").append(std::to_string(made));
        fs::create_directory(locked);
        make_us_image(locked / "hidden.iso");
        fs::permissions(locked, fs::perms::none);
        std::vector<std::string> order;
        for (const auto& entry : fs::directory_iterator(folder)) order.push_back(entry.path().filename().string());
        if (made > 0 && order.front() != open && order.back() != open) return;
        if (made == 0) {   // listings kept in the order of creation: `open` after the first locked one
            fs::rename(folder / open, folder / "moved");
            fs::rename(folder / "moved", folder / open);
        }
    }
    FAIL() << "no listing order with locked folders on both sides";
}

class PlayerScene : public testing::TestWithParam<int> {};

TEST_P(PlayerScene, Run) {
    TempFolder folder;
    const Scene scene = scenes(folder.path)[static_cast<std::size_t>(GetParam())];
    if (scene.where == NATIVE && running_windows_program()) {
        GTEST_SKIP() << "needs Linux names, links or the process";
    }
    if (scene.where == WINE && !running_windows_program()) GTEST_SKIP() << "only the Windows program shows this";
    if ((scene.disturbance == AS_NOBODY || scene.disturbance == READ_ONLY) && geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as nobody";
    }
    std::string expected;
    std::vector<std::unique_ptr<FileGuard>> guards;
    for (const File& file : scene.files) make(folder.path / file.path, file, &expected);
    for (const Order& order : scene.order) list_before(folder.path, order);
    if (HasFatalFailure()) return;
    // Watched once every file is made: making a second link to an image is itself a change.
    for (const File& file : scene.files) {
        // (An image renamed by list_before is one the run must never reach.)
        if ((file.content == US || file.content == EU) && scene.disturbance < SHRINK_IMAGE &&
            fs::exists(folder.path / file.path)) {
            guards.push_back(std::make_unique<FileGuard>(folder.path / file.path));
        }
    }
    RunOptions options = patcher_in(folder.path / scene.start);
    TempFolder reachable;   // for `nobody`, who cannot enter a private checkout
    if (scene.disturbance == AS_NOBODY || scene.disturbance == READ_ONLY) {
        if (scene.disturbance == AS_NOBODY) lock_folders_around(folder.path, "open");
        if (scene.disturbance == READ_ONLY) fs::permissions(folder.path / "ro", fs::perms(0555));
        fs::permissions(folder.path, fs::perms(0755));
        fs::permissions(reachable.path, fs::perms(0755));
        fs::copy_file(options.program, reachable.path / "patcher");
        options.program = (reachable.path / "patcher").string();
        options.as_nobody = true;
    }
    TempFolder counts_folder;
    const fs::path counts = counts_folder.path / "counts";
    if (FAULTS.contains(scene.disturbance)) {
        options = patcher_in(folder.path / scene.start, FAULTS.at(scene.disturbance));
        options.program = patcher_setup().patcher_faults;
        options.environment.push_back({"ORV_FAULT_COUNTS", counts.string()});
    }
    options.output_closed = scene.disturbance == CONSOLE_CLOSED;
    if (SIGNALS.contains(scene.disturbance)) {
        options.key_press = false;   // an interrupted run must not wait for one
        options.signal_when = progress(1);
        options.signal_number = SIGNALS.at(scene.disturbance);
        options.timeout_seconds = 30;
    }
    if (!scene.free_space.empty()) {
        options.program = patcher_setup().patcher_faults;
        options.environment.push_back({"ORV_FAULT_FREE_SPACE", scene.free_space});
    }
    if (scene.disturbance == IN_TEMPORARY_FOLDER && !running_windows_program()) {
        // Started in the scene's folder, the temporary folder is its "tmp" below.
        options.environment.push_back({"TMPDIR", (scene.start.empty() ? folder.path / "tmp" : folder.path).string()});
    }
    std::string second_output;
    if (scene.disturbance == SECOND_RUN) {
        options.signal_when = progress(1);
        options.signal_number = SIGSTOP;
        options.while_stopped = [&] { second_output = run_program(patcher_in(folder.path)).output; };
    }
    if (scene.disturbance == CTRL_C_AT_PROMPT) {
        options.key_press = false;
        options.signal_when = press_key();
    }
    if (scene.disturbance == KEY_ON_TERMINAL || scene.disturbance == CTRL_C_ON_TERMINAL) {
        options.terminal = true;
        options.terminal_key = scene.disturbance == KEY_ON_TERMINAL ? 'x' : '\x03';
        options.environment.push_back({"LANG", "C.UTF-8"});   // the terminal's encoding, for Wine
    }
    // K: is the scene's folder in scripts/wine-run's prefix; the program starts in K:\ itself.
    const char* own = std::getenv("ORV_WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string prefix = own != nullptr ? own : std::string(home != nullptr ? home : "/tmp") + "/.wine-orvelia";
    std::string expected_output = scene.output;
    std::unique_ptr<TempFolder> wine_temporary;
    if (scene.disturbance == IN_TEMPORARY_FOLDER && running_windows_program()) {
        const std::string user = getpwuid(geteuid())->pw_name, start = fs::path(scene.start).filename().string();
        wine_temporary = std::make_unique<TempFolder>(fs::path(prefix) / "drive_c/users" / user / "Temp");
        fs::create_directory(wine_temporary->path / start);
        options.folder = wine_temporary->path / start;
        expected_output = banner() + image_not_found() + in_temporary_folder("C:/users/" + user + "/Temp/" +
                              wine_temporary->path.filename().string() + "/" + start) + press_key();
    }
    const fs::path drive = fs::path(prefix) / "dosdevices" / "k:";
    if (scene.disturbance == DRIVE_ROOT) {
        std::error_code ignored;
        fs::remove(drive, ignored);
        fs::create_directory_symlink(folder.path, drive);
        options.program = "cmd";
        options.arguments = {"/c", std::string("cd /d K:\\ && Z:").append(patcher_setup().patcher)};
    }
    if (scene.disturbance == ON_FAT) {
        options.program = patcher_setup().patcher_faults;
        options.environment.push_back({"ORV_FAULT_FILE_SYSTEM", "fat"});
    }
    std::unique_ptr<FileHolder> holder;
    if (HOLDS.contains(scene.disturbance)) {
        const Hold& hold = HOLDS.at(scene.disturbance);
        holder = hold_file(folder.path, hold.path, hold.sharing, hold.seconds, hold.wait);
        // A file that is there already is held before the program starts.
        if (!hold.wait) {
            ASSERT_TRUE(holder->said_within("holding", 30)) << "the file was never held";
        }
    }
    if (scene.disturbance == CTRL_C_WHILE_HELD) {
        options.key_press = false;
        options.signal_when = progress(3);
    }
    const std::set<std::string> before = tree(folder.path);
    ProgramRun run;
    if (scene.disturbance == KILLED) {
        RunOptions killed = options;
        killed.signal_when = progress(1);
        killed.signal_number = SIGKILL;
        const ProgramRun first = run_program(killed);
        ASSERT_EQ(first.end_signal, SIGKILL) << "not killed half-way: " << first.output;
        EXPECT_FALSE(fs::exists(fs::symlink_status(folder.path / scene.after[0].first))) << "a half-made output";
    }
    if (scene.disturbance >= SHRINK_IMAGE) {
        run.output = run_in_process(folder.path, scene.files[0].content == EU, scene.disturbance);
    } else {
        run = run_program(options);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.signal_sent, !options.signal_when.empty());
        if (scene.disturbance != CTRL_C_AT_PROMPT && scene.disturbance != CTRL_C_ON_TERMINAL) {
            EXPECT_EQ(run.exit_status, 0);
        } else if (!running_windows_program()) {
            EXPECT_EQ(run.end_signal, SIGINT);
        }
        EXPECT_TRUE(run.terminal_settings_kept);
    }
    if (scene.disturbance == DRIVE_ROOT) fs::remove(drive);
    if (holder) {
        EXPECT_TRUE(holder->said_within("holding", 5)) << "the file was never held: the row shows nothing";
    }
    const std::string output = options.terminal ? terminal_text(run.output) : run.output;
    EXPECT_EQ(as_expected(output, expected_output), expected_output);
    if (scene.disturbance == SECOND_RUN) {
        const std::string image = scene.files[0].path;
        EXPECT_EQ(second_output, banner() + (scene.files[0].content == EU ? eu_detected(image) : us_detected(image)) +
                                     other_run(image) + press_key());
    }
    if (FAULTS.contains(scene.disturbance)) {
        const auto calls = read_counts(counts);
        const std::string& fault = FAULTS.at(scene.disturbance);
        EXPECT_TRUE(fault.empty() || fault_fired(calls, fault)) << "the fault never fired";
        // A finished image reached the disk; one under the output's name, that name too.
        for (const auto& [path, after] : scene.after) {
            if (after != OUTPUT) continue;
            EXPECT_TRUE(calls.contains("synced part")) << "the output was not flushed to the disk";
            EXPECT_TRUE(path.ends_with(".part") || calls.contains("synced folder")) << "its name is not on the disk";
        }
    }

    std::set<std::string> expected_tree = before;
    for (const auto& [path, after] : scene.after) {
        if (after == GONE) expected_tree.erase(path);
        if (after != GONE) expected_tree.insert(path);
        // (Sizes first: an old image of gigabytes left in place is not read whole.)
        if (after == OUTPUT && fs::file_size(folder.path / path) != expected.size()) {
            ADD_FAILURE() << path << " is not the patched image: " << fs::file_size(folder.path / path) << " bytes";
        } else if (after == OUTPUT) {
            EXPECT_TRUE(read_file(folder.path / path) == expected) << "the patched image is not right";
        }
    }
    EXPECT_EQ(tree(folder.path), expected_tree);
    for (const File& file : scene.files) {
        if (file.content == TEXT && fs::exists(folder.path / file.path)) {
            EXPECT_EQ(read_file(folder.path / file.path), file.text);
        }
        if (file.content == LINK && fs::is_symlink(folder.path / file.path)) {
            EXPECT_EQ(fs::read_symlink(folder.path / file.path), file.text);
        }
    }
    // Removing a second hard link lowers the image's link count, and does nothing else to it.
    const bool hard_linked = std::any_of(scene.files.begin(), scene.files.end(),
                                         [](const File& file) { return file.content == HARD_LINK; });
    for (const auto& guard : guards) {
        EXPECT_EQ(guard->changes(), hard_linked ? "attributes-unlinked-or-moved " : "")
            << "an image was opened for writing or changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, PlayerScene, testing::Range(0, static_cast<int>(scenes("/tmp").size())),
                         [](const testing::TestParamInfo<int>& row) {
                             return scenes("/tmp")[static_cast<std::size_t>(row.param)].name;
                         });

}  // namespace
