#include "texts.h"

#include <algorithm>

#include "ascii_text.h"

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

const std::array<const char*, TEXT_COUNT> kItalian = {
    "Disinstallazione",
    "Rimuovere questo prodotto e tutti i suoi componenti dal computer?",
    "Il prodotto è stato rimosso dal computer.",
    "&Sì",
    "Sì a &tutti",
    "&No",
    "N&o a tutti",
    "Memoria insufficiente per leggere le informazioni di disinstallazione in %s.",
    "Le informazioni di disinstallazione in %s sono danneggiate o incomplete.",
    "Il file %s è protetto da scrittura. Rimuoverlo comunque?",
    "Il file condiviso %s non è più utilizzato da altri programmi. Rimuoverlo?",
    "Rimozione dei file in corso...",
    "Rimozione delle voci del gruppo di programmi in corso...",
    "Rimozione delle cartelle in corso...",
    "Rimozione delle voci del Registro di sistema in corso...",
    "Un file di questo prodotto è ancora in uso. Chiudere il programma che lo utilizza e "
    "scegliere Riprova, oppure scegliere Annulla per interrompere.",
};

const std::array<const char*, TEXT_COUNT> kPolish = {
    "Dezinstalacja",
    "Czy chcesz usunąć ten produkt i wszystkie jego składniki z komputera?",
    "Produkt został usunięty z komputera.",
    "&Tak",
    "Tak dla &wszystkich",
    "&Nie",
    "N&ie dla wszystkich",
    "Za mało pamięci, aby odczytać informacje o dezinstalacji z pliku %s.",
    "Informacje o dezinstalacji w pliku %s są uszkodzone lub niekompletne.",
    "Plik %s jest chroniony przed zapisem. Czy mimo to chcesz go usunąć?",
    "Plik współdzielony %s nie jest już używany przez żaden inny program. Czy chcesz go usunąć?",
    "Usuwanie plików...",
    "Usuwanie skrótów z grupy programów...",
    "Usuwanie folderów...",
    "Usuwanie wpisów rejestru...",
    "Plik tego produktu jest nadal używany. Zamknij program, który go używa, i wybierz Ponów "
    "próbę albo wybierz Anuluj, aby przerwać.",
};

const std::array<const char*, TEXT_COUNT> kRussian = {
    "Удаление",
    "Удалить этот продукт и все его компоненты с компьютера?",
    "Продукт удалён с компьютера.",
    "&Да",
    "Да для &всех",
    "&Нет",
    "Н&ет для всех",
    "Недостаточно памяти для чтения сведений об удалении из %s.",
    "Сведения об удалении в %s повреждены или неполны.",
    "Файл %s защищён от записи. Всё равно удалить его?",
    "Общий файл %s больше не используется другими программами. Удалить его?",
    "Удаление файлов...",
    "Удаление ярлыков из группы программ...",
    "Удаление папок...",
    "Удаление записей реестра...",
    "Файл этого продукта ещё используется. Закройте программу, которая его использует, и "
    "нажмите «Повторить» или нажмите «Отмена», чтобы прервать удаление.",
};

const std::array<const char*, TEXT_COUNT> kJapanese = {
    "アンインストール",
    "この製品とそのすべてのコンポーネントをコンピューターから削除しますか？",
    "製品はコンピューターから削除されました。",
    "はい(&Y)",
    "すべてはい(&A)",
    "いいえ(&N)",
    "すべていいえ(&O)",
    "%s のアンインストール情報を読み込むためのメモリが不足しています。",
    "%s のアンインストール情報が壊れているか、不完全です。",
    "ファイル %s は書き込み禁止になっています。削除してもよろしいですか？",
    "共有ファイル %s は、ほかのプログラムで使用されなくなりました。削除しますか？",
    "ファイルを削除しています...",
    "プログラム グループの項目を削除しています...",
    "フォルダーを削除しています...",
    "レジストリ エントリを削除しています...",
    "この製品のファイルがまだ使用中です。そのファイルを使用しているプログラムを終了してから"
    "[再試行] を選ぶか、[キャンセル] を選んで中止してください。",
};

const std::array<const char*, TEXT_COUNT> kSimplifiedChinese = {
    "卸载",
    "确实要从计算机中删除此产品及其所有组件吗？",
    "此产品已从计算机中删除。",
    "是(&Y)",
    "全部是(&A)",
    "否(&N)",
    "全部否(&O)",
    "内存不足，无法读取 %s 中的卸载信息。",
    "%s 中的卸载信息已损坏或不完整。",
    "文件 %s 受写保护。仍要删除它吗？",
    "共享文件 %s 已不再被其他程序使用。要删除它吗？",
    "正在删除文件...",
    "正在删除程序组项目...",
    "正在删除文件夹...",
    "正在删除注册表项...",
    "此产品的某个文件仍在使用中。请关闭正在使用该文件的程序，然后选择“重试”；或选择“取消”"
    "停止卸载。",
};

struct Language {
    const char* name;
    unsigned codePage;
    const std::array<const char*, TEXT_COUNT>* texts;
};

// In the order in which dump prefers them.
const Language kLanguages[] = {
    {"English", 1252, &kEnglish},
    {"German", 1252, &kGerman},
    {"French", 1252, &kFrench},
    {"Spanish", 1252, &kSpanish},
    {"Italian", 1252, &kItalian},
    {"Polish", 1250, &kPolish},
    {"Russian", 1251, &kRussian},
    {"Japanese", 932, &kJapanese},
    {"SimplifiedChinese", 936, &kSimplifiedChinese},
};

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
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Language& l : kLanguages)
            out.push_back(l.name);
        return out;
    }();
    return names;
}

namespace {

const Language* findLanguage(const std::string& language) {
    for (const Language& l : kLanguages)
        if (sameText(language, l.name))
            return &l;
    return nullptr;
}

} // namespace

const std::array<const char*, TEXT_COUNT>* languageTexts(const std::string& language) {
    const Language* l = findLanguage(language);
    return l ? l->texts : nullptr;
}

std::optional<unsigned> languageCodePage(const std::string& language) {
    const Language* l = findLanguage(language);
    return l ? std::optional<unsigned>(l->codePage) : std::nullopt;
}

std::optional<std::string> canonicalLanguageName(const std::string& language) {
    const Language* l = findLanguage(language);
    return l ? std::optional<std::string>(l->name) : std::nullopt;
}

} // namespace varnel
