// Font unregistration of installed files flagged FE_FONT.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../core/font_name.h"
#include "../payload/payload.h"
#include "removal.h"

static const char ntFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
static const char fontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
enum { FONT_CHANGE_TIMEOUT = 1000 }; // milliseconds a window has for the font change

// The file is mapped rather than read piece by piece: the parser sees its
// bytes and their number, and checks every offset against it.
void readFontFullName(const char* path, char* out) {
    out[0] = 0;
    HANDLE file = openExistingFile(path, FILE_MODE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD high = 0;
    DWORD size = W32(GetFileSize, file, &high);
    HANDLE mapping = high || size == INVALID_FILE_SIZE
                         ? nullptr
                         : W32(CreateFileMappingA, file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping) {
        void* view = W32(MapViewOfFile, mapping, FILE_MAP_READ, 0, 0, 0);
        if (view) {
            parseFontFullName(static_cast<const unsigned char*>(view), size, out);
            W32(UnmapViewOfFile, view);
        }
        W32(CloseHandle, mapping);
    }
    closeFile(file);
}

void unregisterFont(const char* path) {
    char name[FONT_NAME_SIZE];
    readFontFullName(path, name);
    W32(RemoveFontResourceA, path);
    if (name[0]) {
        strcat(name, " (TrueType)"); // the parser keeps 11 bytes and the terminator free
        HKEY key;
        if (W32(RegOpenKeyA, HKEY_LOCAL_MACHINE, state.isNT ? ntFontsKey : fontsKey, &key) ==
            ERROR_SUCCESS) {
            W32(RegDeleteValueA, key, name);
            W32(RegCloseKey, key);
        }
    }
    // Every top-level window is told, each given a second at most: a window
    // that is hung, or slow, cannot hold the uninstall for ever.
    DWORD_PTR result;
    W32(SendMessageTimeoutA, HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG,
        FONT_CHANGE_TIMEOUT, &result);
}
