#include "texts.h"

#include <algorithm>
#include <cctype>

namespace varnel {
namespace {

const std::array<const char*, TEXT_COUNT> kNames = {
    "caption",          // 0  caption of every box and dialog
    "confirm",          // 1  confirmation; also the message of payload error 1
    "done",             // 2  completion message
    "yes",              // 3  question dialog: yes
    "yesToAll",         // 4  question dialog: yes to all
    "no",               // 5  question dialog: no; also the message of payload error 5
    "noToAll",          // 6  question dialog: no to all
    "noMemory",         // 7  payload error 7, with the uninstaller's path
    "damaged",          // 8  payload error 8, with the uninstaller's path
    "readOnlyQuestion", // 9  write-protected file, with its path
    "sharedQuestion",   // 10 shared file no longer used, with its path
    "stageFiles",       // 11 progress: files and patterns
    "stageGroups",      // 12 progress: group entries
    "stageFolders",     // 13 progress: folders
    "stageRegistry",    // 14 progress: registry
    "inUse",            // 15 a file is still in use (Retry / Cancel)
};

const std::array<const char*, TEXT_COUNT> kEnglish = {
    "Uninstall",
    "Do you want to remove this product and all of its components from your computer?",
    "The product has been removed from your computer.",
    "&Yes",
    "Yes to &all",
    "&No",
    "N&o to all",
    "There is not enough memory to read the uninstall information in %s.",
    "The uninstall information in %s is damaged or incomplete.",
    "The file %s is write-protected. Do you want to remove it anyway?",
    "The shared file %s is no longer used by any other program. Do you want to remove it?",
    "Removing files...",
    "Removing program group entries...",
    "Removing folders...",
    "Removing registry entries...",
    "A file of this product is still in use. Close the program that uses it and choose Retry, "
    "or choose Cancel to stop.",
};

const std::array<const char*, TEXT_COUNT> kGerman = {
    "Deinstallation",
    "Möchten Sie dieses Produkt mit allen seinen Komponenten von Ihrem Computer entfernen?",
    "Das Produkt wurde von Ihrem Computer entfernt.",
    "&Ja",
    "Ja, &alle",
    "&Nein",
    "N&ein, keine",
    "Es ist nicht genügend Speicher vorhanden, um die Deinstallationsdaten in %s zu lesen.",
    "Die Deinstallationsdaten in %s sind beschädigt oder unvollständig.",
    "Die Datei %s ist schreibgeschützt. Möchten Sie sie trotzdem entfernen?",
    "Die gemeinsam genutzte Datei %s wird von keinem anderen Programm mehr verwendet. Möchten "
    "Sie sie entfernen?",
    "Dateien werden entfernt...",
    "Programmgruppeneinträge werden entfernt...",
    "Ordner werden entfernt...",
    "Registrierungseinträge werden entfernt...",
    "Eine Datei dieses Produkts wird noch verwendet. Schließen Sie das Programm, das sie "
    "verwendet, und wählen Sie Wiederholen, oder wählen Sie Abbrechen.",
};

const std::array<const char*, TEXT_COUNT> kFrench = {
    "Désinstallation",
    "Voulez-vous supprimer ce produit et tous ses composants de votre ordinateur ?",
    "Le produit a été supprimé de votre ordinateur.",
    "&Oui",
    "Oui pour &tous",
    "&Non",
    "N&on pour tous",
    "La mémoire est insuffisante pour lire les informations de désinstallation de %s.",
    "Les informations de désinstallation de %s sont endommagées ou incomplètes.",
    "Le fichier %s est protégé en écriture. Voulez-vous quand même le supprimer ?",
    "Le fichier partagé %s n'est plus utilisé par aucun autre programme. Voulez-vous le "
    "supprimer ?",
    "Suppression des fichiers...",
    "Suppression des entrées du groupe de programmes...",
    "Suppression des dossiers...",
    "Suppression des entrées du registre...",
    "Un fichier de ce produit est encore utilisé. Fermez le programme qui l'utilise et "
    "choisissez Réessayer, ou choisissez Annuler pour arrêter.",
};

const std::array<const char*, TEXT_COUNT> kSpanish = {
    "Desinstalación",
    "¿Desea quitar este producto y todos sus componentes de su equipo?",
    "El producto se ha quitado de su equipo.",
    "&Sí",
    "Sí a &todo",
    "&No",
    "N&o a todo",
    "No hay memoria suficiente para leer la información de desinstalación de %s.",
    "La información de desinstalación de %s está dañada o incompleta.",
    "El archivo %s está protegido contra escritura. ¿Desea quitarlo de todos modos?",
    "Ningún otro programa utiliza ya el archivo compartido %s. ¿Desea quitarlo?",
    "Quitando archivos...",
    "Quitando entradas del grupo de programas...",
    "Quitando carpetas...",
    "Quitando entradas del registro...",
    "Un archivo de este producto todavía está en uso. Cierre el programa que lo utiliza y "
    "elija Reintentar, o elija Cancelar para detenerse.",
};

bool sameWord(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

} // namespace

const std::array<const char*, TEXT_COUNT>& textNames() {
    return kNames;
}

std::optional<unsigned> textNumber(const std::string& name) {
    for (unsigned i = 0; i < TEXT_COUNT; ++i)
        if (name == kNames[i])
            return i;
    if (name.empty() || name.size() > 5 ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (name.size() > 1 && name[0] == '0')
        return std::nullopt;
    unsigned long n = std::stoul(name);
    if (n > 0xFFFE)
        return std::nullopt;
    return unsigned(n);
}

std::string textKey(unsigned number) {
    return number < TEXT_COUNT ? kNames[number] : std::to_string(number);
}

const std::vector<std::string>& languageNames() {
    static const std::vector<std::string> names = {"English", "German", "French", "Spanish"};
    return names;
}

const std::array<const char*, TEXT_COUNT>* languageTexts(const std::string& language) {
    if (sameWord(language, "English"))
        return &kEnglish;
    if (sameWord(language, "German"))
        return &kGerman;
    if (sameWord(language, "French"))
        return &kFrench;
    if (sameWord(language, "Spanish"))
        return &kSpanish;
    return nullptr;
}

} // namespace varnel
