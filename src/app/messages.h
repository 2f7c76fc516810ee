// Every text the program shows, as printf formats: the French text itself, in UTF-8.
// The console layer writes it as the player's console needs it.
#pragma once

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
