// Every text the program shows, as printf formats: the French text itself, in UTF-8.
// The console layer writes it as the player's console needs it.
#pragma once

#include <cstdint>

inline constexpr char msg_banner[] = "\n**** Patcheur pour mettre Orvelia en Français ****\n\n\n";
inline constexpr char msg_image_not_found[] = "Impossible de trouver le fichier ISO d'Orvelia.\n\n";
inline constexpr char msg_size_hint[] =
    "La taille du fichier doit être la suivante :\n2 599 682 048 octets pour la version US.\n"
    "2 669 969 408 octets pour la version EU.\n\n";
inline constexpr char msg_crc_hint[] =
    "Le CRC32 doit être le suivant :\nECD1E5BD pour la version US.\n355F1080 pour la version EU.\n";
inline constexpr char msg_image_open_failed[] = "Impossible d'ouvrir le fichier ISO suivant : %s\n";
inline constexpr char msg_us_detected[] = "Version US détectée : %s\n\n";
inline constexpr char msg_eu_detected[] = "Version européenne détectée : %s\n\n";
inline constexpr char msg_us_patch_missing[] = "Le fichier de patch xdelta US->FR est introuvable.\n";
inline constexpr char msg_eu_patch_missing[] = "Le fichier de patch xdelta EU->FR est introuvable.\n";
inline constexpr char msg_patching[] = "Patchage du fichier ISO en cours :\n";
inline constexpr char msg_temp_create_failed[] = "Impossible de créer le fichier ISO temporaire.\n";
inline constexpr char msg_patch_succeeded[] = "\n\nLe patch a été appliqué avec succès !\n";
inline constexpr char msg_output_named[] = "Le fichier du jeu en français est \"%s\".\n";
inline constexpr char msg_crc_failed[] =
    "\n\nLe patchage a échoué dû à un problème de CRC32. Le fichier \"%s\" n'est pas correct.\n";
inline constexpr char msg_patch_failed[] = "\n\nLe patchage a échoué.\n";
inline constexpr char msg_press_key[] = "\nAppuyez sur n'importe quelle touche pour quitter le programme.";

// What to do, after a failure or when nothing was found: each names the file or folder concerned.
inline constexpr char msg_other_run[] =
    "Le fichier \"%s\" est déjà en cours de patchage dans une autre fenêtre du patcheur : attendez que "
    "celle-ci ait fini.\n";
inline constexpr char msg_output_held[] =
    "Le fichier \"%s\" est ouvert dans un autre programme (un émulateur ?) : fermez ce programme, puis "
    "relancez le patcheur.\n";
inline constexpr char msg_no_space[] =
    "Il n'y a pas assez de place sur le disque de \"%s\" : il faut %s Go de libre, il n'y en a que %s Go. "
    "Libérez de la place, puis relancez le patcheur.\n";
inline constexpr char msg_output_kept[] =
    "\n\nLe patch a été appliqué, mais le fichier du jeu en français n'a pas pu recevoir son nom \"%s\" : "
    "un autre programme l'en empêche.\nIl est complet sous le nom \"%s\" : fermez l'autre programme, puis "
    "retirez vous-même \".part\" à la fin de son nom.\n";
inline constexpr char msg_folder_in_the_way[] =
    "Un dossier porte le nom du fichier à écrire \"%s\" : renommez ou déplacez ce dossier, puis relancez le "
    "patcheur.\n";
inline constexpr char msg_path_too_long[] =
    "\nLe chemin de \"%s\" est trop long (plus de 254 caractères) : déplacez son dossier plus près de la "
    "racine du disque, puis relancez le patcheur.\n";
inline constexpr char msg_names_too_long[] =
    "Le chemin de \"%s\" est trop long pour écrire le fichier traduit à côté (254 caractères au plus) : "
    "déplacez son dossier plus près de la racine du disque, puis relancez le patcheur.\n";
inline constexpr char msg_in_temporary_folder[] =
    "\nLe patcheur a été lancé depuis un dossier temporaire (\"%s\") : une archive ouverte sans être "
    "extraite ? Extrayez d'abord l'archive, puis lancez le patcheur depuis le dossier extrait.\n";
inline constexpr char msg_cannot_write_here[] =
    "Impossible d'écrire dans le dossier \"%s\" : déplacez les fichiers dans un dossier où vous pouvez "
    "écrire, puis relancez le patcheur.\n";
inline constexpr char msg_patch_damaged[] =
    "Le fichier de patch \"%s\" est endommagé ou incomplet : téléchargez-le à nouveau.\n";
inline constexpr char msg_write_failed[] =
    "L'écriture de \"%s\" sur le disque a échoué : le disque est plein ou défectueux.\n";

// A window failed its checksum: the image's CRC32 tells whether the image or the patch is at fault.
inline constexpr char msg_crc_progress[] = "Calcul du CRC32 : %d %%\r";
inline constexpr char msg_patch_not_for_image[] =
    "\n\nLe patchage a échoué : le fichier ISO est correct, mais le fichier de patch \"%s\" est endommagé "
    "ou n'est pas celui de cette version du jeu. Téléchargez-le à nouveau.\n";
inline constexpr char msg_crc_found[] = "CRC32 de \"%s\" : %08X (attendu : %08X).\n";

// Printers, one per message.
void print_banner();
void print_image_not_found();   // with the size and CRC32 hints after it
void print_image_open_failed(const char* display_path);
void print_us_detected(const char* display_path);
void print_eu_detected(const char* display_path);
void print_us_patch_missing();
void print_eu_patch_missing();
void print_patching();
void print_temp_create_failed();
void print_patch_succeeded(const char* output_display_path);  // with msg_output_named
void print_crc_failed(const char* image_display_path);
void print_patch_failed();
void print_press_key();

void print_other_run(const char* image_display_path);
void print_output_held(const char* output_display_path);
// `needed` and `free_bytes` in bytes, shown in Go (10^9 bytes) with one decimal: what is
// needed rounded up, what is free rounded down, so the two never show the same figure.
void print_no_space(const char* image_display_path, std::uint64_t needed, std::uint64_t free_bytes);
void print_output_kept(const char* output_display_path, const char* part_display_path);
void print_folder_in_the_way(const char* display_path);
void print_path_too_long(const char* display_path);
void print_names_too_long(const char* image_display_path);
void print_in_temporary_folder(const char* start_folder);
void print_cannot_write_here(const char* folder);
void print_patch_damaged(const char* patch_display_path);
void print_write_failed(const char* display_path);
void print_crc_progress(int percentage);
// The verdict after a checksum failure (the image is not the expected dump, or the
// patch is at fault), then the image's CRC32 beside the expected one.
void print_crc_verdict(const char* image_display_path, const char* patch_display_path, std::uint32_t crc,
                       std::uint32_t expected_crc);
