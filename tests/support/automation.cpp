#include "automation.h"

#include <cstdlib>
#include <utility>

namespace bed {

namespace {

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::string windowText(HWND window) {
    char text[2048] = {};
    // WM_GETTEXT works across processes, also for controls.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

std::string withoutAmpersands(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '&')
            out += c;
    return out;
}

} // namespace

std::vector<HWND> visibleWindows(DWORD processId) {
    Search search{processId, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Dialog describe(HWND window) {
    Dialog d;
    d.window = window;
    char name[256] = {};
    d.caption = windowText(window);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Control c;
        c.window = child;
        c.id = GetDlgCtrlID(child);
        GetClassNameA(child, name, sizeof(name));
        c.className = name;
        c.text = windowText(child);
        c.style = GetWindowLongA(child, GWL_STYLE);
        GetWindowRect(child, &c.rect);
        if (lstrcmpiA(name, "Button") == 0 && IsWindowVisible(child))
            d.buttons.push_back(withoutAmpersands(c.text));
        // A message box's text is the static control 0xFFFF; a dialog's is 1000.
        if (lstrcmpiA(name, "Static") == 0 && (c.id == 0xFFFF || c.id == 1000))
            d.message = c.text;
        d.controls.push_back(c);
    }
    if (findControl(d, 0xFFFF)) // a message box: its text is the static control 0xFFFF
        d.icon = messageBoxIcon(d);
    return d;
}

const Control* findControl(const Dialog& dialog, int id) {
    for (const Control& c : dialog.controls)
        if (c.id == id)
            return &c;
    return nullptr;
}

namespace {

// The pixels of a screen rectangle, 32 bits each.
std::vector<COLORREF> grab(HDC source, int x, int y, int width, int height) {
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    std::vector<COLORREF> out(static_cast<COLORREF*>(pixels),
                              static_cast<COLORREF*>(pixels) + width * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return out;
}

// A standard icon drawn on a plain background of the given colour.
std::vector<COLORREF> render(LPCSTR icon, COLORREF background, int width, int height) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background & 0xFFFFFF);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, icon), width, height, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> out = grab(memory, 0, 0, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

} // namespace

// Whether the point on screen shows the window itself (not another one on top).
bool showsWindow(HWND window, POINT point) {
    HWND top = WindowFromPoint(point);
    return top && GetAncestor(top, GA_ROOT) == window;
}

// The standard icons a message box can show.
const std::pair<const char*, LPCSTR> candidates[] = {{"information", MAKEINTRESOURCEA(32516)},
                                                     {"question", MAKEINTRESOURCEA(32514)},
                                                     {"warning", MAKEINTRESOURCEA(32515)},
                                                     {"error", MAKEINTRESOURCEA(32513)}};

// Tests running side by side share one display: one of them at a time raises
// a box and reads it, so that two boxes do not take turns on top.
struct ScreenLock {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "varnel-bed-screen");
    ScreenLock() { WaitForSingleObject(mutex, 10000); }
    ~ScreenLock() {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
};

std::string readIcon(const Dialog& dialog);

std::string messageBoxIcon(const Dialog& dialog) {
    ScreenLock lock;
    std::string icon = readIcon(dialog);
    SetWindowPos(dialog.window, HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return icon;
}

std::string readIcon(const Dialog& dialog) {
    const Control* icon = nullptr;
    for (const Control& c : dialog.controls)
        if ((c.style & SS_TYPEMASK) == SS_ICON && lstrcmpiA(c.className.c_str(), "Static") == 0)
            icon = &c;
    if (!icon)
        return "none";
    int width = icon->rect.right - icon->rect.left, height = icon->rect.bottom - icon->rect.top;
    if (width <= 0 || height <= 0)
        return "none";
    // Other tests' windows share the display: bring the box to the top and
    // have it painted before its pixels are read.
    POINT corners[] = {{icon->rect.left, icon->rect.top},
                       {icon->rect.right - 1, icon->rect.bottom - 1}};
    for (int attempt = 0; attempt < 40; ++attempt) {
        SetWindowPos(dialog.window, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        RedrawWindow(dialog.window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        if (showsWindow(dialog.window, corners[0]) && showsWindow(dialog.window, corners[1]))
            break;
        Sleep(25);
    }
    // Read the pixels until two readings in a row agree on an icon that is
    // clearly nearer than the others (a box half painted, or covered for a
    // moment, matches nothing well).
    std::string last;
    for (int attempt = 0; attempt < 200; ++attempt) {
        Sleep(25);
        HDC screen = GetDC(nullptr);
        std::vector<COLORREF> shown = grab(screen, icon->rect.left, icon->rect.top, width, height);
        ReleaseDC(nullptr, screen);
        std::string best = "none";
        long long bestDistance = -1, secondDistance = -1;
        for (const auto& candidate : candidates) {
            std::vector<COLORREF> drawn = render(candidate.second, shown[0], width, height);
            long long distance = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                for (int channel = 0; channel < 24; channel += 8)
                    distance += std::abs(int((shown[i] >> channel) & 0xFF) -
                                         int((drawn[i] >> channel) & 0xFF));
            if (bestDistance < 0 || distance < bestDistance) {
                secondDistance = bestDistance;
                bestDistance = distance;
                best = candidate.first;
            } else if (secondDistance < 0 || distance < secondDistance) {
                secondDistance = distance;
            }
        }
        bool clear = bestDistance * 3 < secondDistance;
        if (clear && best == last)
            return best;
        last = clear ? best : "";
        SetWindowPos(dialog.window, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return "unclear";
}

bool pressButtonId(const Dialog& dialog, int id) {
    const Control* c = findControl(dialog, id);
    if (!c)
        return false;
    return PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(c->window)) != 0;
}

bool pressButton(const Dialog& dialog, const std::string& label) {
    for (const Control& c : dialog.controls)
        if (withoutAmpersands(c.text) == label && lstrcmpiA(c.className.c_str(), "Button") == 0)
            return pressButtonId(dialog, c.id);
    return false;
}

// The control that has the focus inside the dialog; a focus elsewhere (another
// window of the process) is waited out, and the dialog itself stands in.
static HWND focusIn(const Dialog& dialog) {
    DWORD thread = GetWindowThreadProcessId(dialog.window, nullptr);
    for (int attempt = 0; attempt < 40; ++attempt, Sleep(25)) {
        GUITHREADINFO info = {sizeof(info)};
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
            GetAncestor(info.hwndFocus, GA_ROOT) == dialog.window)
            return info.hwndFocus;
    }
    return dialog.window;
}

std::string focusedLabel(const Dialog& dialog) {
    return withoutAmpersands(windowText(focusIn(dialog)));
}

void sendKey(const Dialog& dialog, WPARAM virtualKey) {
    HWND target = focusIn(dialog);
    UINT scan = MapVirtualKeyA(UINT(virtualKey), 0);
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

} // namespace bed
