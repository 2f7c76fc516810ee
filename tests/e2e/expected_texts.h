// What a player sees, written out byte for byte (code page 850 letters as escapes, the
// bytes the Windows program writes through a pipe), independently of the program's own
// catalogue; console_text() turns them into what this run shows.
#pragma once

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
