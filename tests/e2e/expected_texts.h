// What a player sees, written out byte for byte (code page 850 letters as escapes, the
// bytes the Windows program writes through a pipe), independently of the program's own
// catalogue; console_text() turns them into what this run shows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "e2e_support.h"

inline std::string banner() { return console_text("\n**** Patcheur pour mettre Orvelia en Fran\x87" "ais ****\n\n\n"); }

inline std::string image_not_found() {
    return console_text(
        "Impossible de trouver le fichier ISO d'Orvelia.\n\n"
        "La taille du fichier doit \x88tre la suivante :\n"
        "2 599 682 048 octets pour la version US.\n"
        "2 669 969 408 octets pour la version EU.\n\n"
        "Le CRC32 doit \x88tre le suivant :\n"
        "ECD1E5BD pour la version US.\n"
        "355F1080 pour la version EU.\n");
}

inline std::string press_key() {
    return console_text("\nAppuyez sur n'importe quelle touche pour quitter le programme.");
}

inline std::string us_detected(const std::string& path) {
    return console_text("Version US d\x82tect\x82" "e : %s\n\n", path);
}

inline std::string eu_detected(const std::string& path) {
    return console_text("Version europ\x82" "enne d\x82tect\x82" "e : %s\n\n", path);
}

inline std::string us_patch_missing() { return console_text("Le fichier de patch xdelta US->FR est introuvable.\n"); }
inline std::string eu_patch_missing() { return console_text("Le fichier de patch xdelta EU->FR est introuvable.\n"); }

inline std::string image_open_failed(const std::string& path) {
    return console_text("Impossible d'ouvrir le fichier ISO suivant : %s\n", path);
}

inline std::string patching() { return console_text("Patchage du fichier ISO en cours :\n"); }

inline std::string temp_create_failed() {
    return console_text("Impossible de cr\x82" "er le fichier ISO temporaire.\n");
}

inline std::string patch_failed() { return console_text("\n\nLe patchage a \x82" "chou\x82" ".\n"); }

inline std::string crc_failed(const std::string& image_path) {
    return console_text("\n\nLe patchage a \x82" "chou\x82" " d\x96 \x85 un probl\x8A" "me de CRC32. Le fichier \"%s\" "
                        "n'est pas correct.\n", image_path);
}

inline std::string patch_succeeded(const std::string& output_path) {
    return console_text("\n\nLe patch a \x82t\x82 appliqu\x82 avec succ\x8As !\n"
                        "Le fichier du jeu en fran\x87" "ais est \"%s\".\n", output_path);
}

// Progress lines end in a carriage return only, also on Windows.
inline std::string progress(int percent) { return "Progression: " + std::to_string(percent) + " %\r"; }

// What to do, after a failure or when nothing was found.
inline std::string other_run(const std::string& image) {
    return console_text("Le fichier \"%s\" est d\x82j\x85 en cours de patchage dans une autre fen\x88tre du patcheur : "
                        "attendez que celle-ci ait fini.\n", image);
}
inline std::string output_held(const std::string& output) {
    return console_text("Le fichier \"%s\" est ouvert dans un autre programme (un \x82mulateur ?) : fermez ce "
                        "programme, puis relancez le patcheur.\n", output);
}
inline std::string no_space(const std::string& image, const std::string& needed, const std::string& free) {
    return console_text("Il n'y a pas assez de place sur le disque de \"%s\" : il faut " + needed +
                        " Go de libre, il n'y en a que " + free + " Go. Lib\x82rez de la place, puis relancez le "
                        "patcheur.\n", image);
}
inline std::string output_kept(const std::string& output, const std::string& part) {
    return console_text("\n\nLe patch a \x82t\x82 appliqu\x82, mais le fichier du jeu en fran\x87" "ais n'a pas pu "
                        "recevoir son nom \"%s\" : un autre programme l'en emp\x88" "che.\n", output) +
           console_text("Il est complet sous le nom \"%s\" : fermez l'autre programme, puis retirez vous-m\x88me "
                        "\".part\" \x85 la fin de son nom.\n", part);
}
inline std::string folder_in_the_way(const std::string& path) {
    return console_text("Un dossier porte le nom du fichier \x85 \x82" "crire \"%s\" : renommez ou d\x82placez ce "
                        "dossier, puis relancez le patcheur.\n", path);
}
inline std::string path_too_long(const std::string& path) {
    return console_text("\nLe chemin de \"%s\" est trop long (plus de 254 caract\x8Ares) : d\x82placez son dossier "
                        "plus pr\x8As de la racine du disque, puis relancez le patcheur.\n", path);
}
inline std::string names_too_long(const std::string& image) {
    return console_text("Le chemin de \"%s\" est trop long pour \x82" "crire le fichier traduit \x85 c\x93t\x82 (254 "
                        "caract\x8Ares au plus) : d\x82placez son dossier plus pr\x8As de la racine du disque, puis "
                        "relancez le patcheur.\n", image);
}
inline std::string in_temporary_folder(const std::string& start_folder) {
    return console_text("\nLe patcheur a \x82t\x82 lanc\x82 depuis un dossier temporaire (\"%s\") : une archive "
                        "ouverte sans \x88tre extraite ? Extrayez d'abord l'archive, puis lancez le patcheur depuis le "
                        "dossier extrait.\n", start_folder);
}
inline std::string cannot_write_here(const std::string& folder) {
    return console_text("Impossible d'\x82" "crire dans le dossier \"%s\" : d\x82placez les fichiers dans un dossier "
                        "o\x97 vous pouvez \x82" "crire, puis relancez le patcheur.\n", folder);
}
inline std::string patch_damaged(const std::string& patch) {
    return console_text("Le fichier de patch \"%s\" est endommag\x82 ou incomplet : t\x82l\x82" "chargez-le \x85 "
                        "nouveau.\n", patch);
}
inline std::string write_failed(const std::string& file) {
    return console_text("L'\x82" "criture de \"%s\" sur le disque a \x82" "chou\x82 : le disque est plein ou "
                        "d\x82" "fectueux.\n", file);
}
// After a checksum failure: the verdict, then the image's CRC32 beside the expected one.
inline std::string patch_not_for_image(const std::string& patch) {
    return console_text("\n\nLe patchage a \x82" "chou\x82 : le fichier ISO est correct, mais le fichier de patch "
                        "\"%s\" est endommag\x82 ou n'est pas celui de cette version du jeu. T\x82l\x82" "chargez-le "
                        "\x85 nouveau.\n", patch);
}
inline std::string hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}
inline std::string crc_found(const std::string& image, std::uint32_t crc, std::uint32_t expected) {
    return console_text("CRC32 de \"%s\" : " + hex(crc) + " (attendu : " + hex(expected) + ").\n", image);
}
// The lines of the CRC32 computation over a whole disc image: 0 to 100 %, each once.
inline std::string crc_lines() {
    std::string lines;
    for (int percent = 0; percent <= 100; ++percent) lines += "Calcul du CRC32 : " + std::to_string(percent) + " %\r";
    return lines;
}
inline constexpr std::uint32_t US_DUMP_CRC = 0xECD1E5BD, EU_DUMP_CRC = 0x355F1080;   // the real dumps'

