#include "harness.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace bed {

namespace {

std::map<std::string, std::string> fixtures;

BOOL CALLBACK collect(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->first && IsWindowVisible(window))
        search->second.push_back(window);
    return TRUE;
}

// The window's text without '&'; WM_GETTEXT works across processes, also for controls.
std::string label(HWND window) {
    char text[2048] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    std::string out;
    for (const char* c = text; *c; ++c)
        if (*c != '&')
            out += *c;
    return out;
}

bool isClass(HWND window, const char* name) {
    char found[64] = {};
    GetClassNameA(window, found, sizeof(found));
    return lstrcmpiA(found, name) == 0;
}

} // namespace

Dialog describe(HWND window) {
    Dialog d;
    d.window = window;
    d.caption = label(window);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        if (isClass(child, "Button") && IsWindowVisible(child))
            d.buttons.push_back(label(child));
        if (isClass(child, "Static") && (id == 0xFFFF || id == 1000))
            d.message = label(child);
    }
    return d;
}

namespace {

// The control that has the focus inside the dialog; a focus elsewhere (another
// window of the process) is waited out, and the dialog itself stands in.
HWND focusIn(const Dialog& dialog) {
    DWORD thread = GetWindowThreadProcessId(dialog.window, nullptr);
    for (int attempt = 0; attempt < 40; ++attempt, Sleep(25)) {
        GUITHREADINFO info = {sizeof(info)};
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
            GetAncestor(info.hwndFocus, GA_ROOT) == dialog.window)
            return info.hwndFocus;
    }
    return dialog.window;
}

} // namespace

void registerFixtures(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        fixtures[std::string(argv[i]).substr(std::string(argv[i]).find_last_of("\\/") + 1)] =
            argv[i];
}

std::string fixture(const std::string& fileName) {
    auto it = fixtures.find(fileName);
    if (it == fixtures.end())
        throw std::runtime_error("fixture not passed on the command line: " + fileName);
    return it->second;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks the bed's link agent (tests/bed/link-agent) and waits for its answer.
static void askAgent(const std::string& request) {
    static int number = 0;
    CreateDirectoryA("C:\\bed\\agent", nullptr);
    std::string base =
        "C:\\bed\\agent\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++number);
    writeText(base + ".tmp", request);
    MoveFileA((base + ".tmp").c_str(), (base + ".req").c_str());
    for (int waited = 0; !exists(base + ".done"); waited += 20) {
        if (waited > 10000)
            throw std::runtime_error("the link agent does not answer: " + request);
        Sleep(20);
    }
    varnel::Bytes answer = varnel::readFileBytes(base + ".done");
    DeleteFileA((base + ".done").c_str());
    if (std::string(answer.begin(), answer.end()) != "ok")
        throw std::runtime_error(std::string(answer.begin(), answer.end()) + ": " + request);
}

void makeLink(const std::string& path, const std::string& target) {
    askAgent("link\t" + path + "\t" + target);
}

// `attributes` as the folder's listing gave them: a link whose target is gone
// has none of its own.
static void removeTree(const std::string& path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) { // a link goes, never what it leads to
        askAgent("unlink\t" + path);
        return;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (std::string name = found.cFileName; name != "." && name != "..")
            removeTree(path + "\\" + name, found.dwFileAttributes);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    if (!RemoveDirectoryA(path.c_str()) && GetLastError() == ERROR_DIR_NOT_EMPTY) {
        askAgent("dangling\t" + path);
        RemoveDirectoryA(path.c_str());
    }
}

void removeTree(const std::string& path) {
    removeTree(path, GetFileAttributesA(path.c_str()));
}

std::string caseDir(const std::string& name) {
    CreateDirectoryA("C:\\vt", nullptr);
    std::string dir = "C:\\vt\\" + name;
    removeTree(dir);
    if (!CreateDirectoryA(dir.c_str(), nullptr))
        throw std::runtime_error("cannot create " + dir);
    return dir;
}

void writeText(const std::string& path, const std::string& text) {
    varnel::writeFileBytes(path, varnel::Bytes(text.begin(), text.end()));
}

void setWindowsVersion(const std::string& exeName, const std::string& version) {
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    if (RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, version.c_str(),
                        DWORD(version.size() + 1)) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set the Windows version for " + exeName);
}

std::vector<HWND> visibleWindows(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> search{processId, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

bool pressButton(const Dialog& dialog, const std::string& text) {
    for (HWND c = GetWindow(dialog.window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (isClass(c, "Button") && label(c) == text)
            return PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED),
                                reinterpret_cast<LPARAM>(c)) != 0;
    return false;
}

std::string focusedLabel(const Dialog& dialog) {
    return label(focusIn(dialog));
}

void sendKey(const Dialog& dialog, WPARAM virtualKey) {
    HWND target = focusIn(dialog);
    UINT scan = MapVirtualKeyA(UINT(virtualKey), 0);
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

// A window station that nobody sees, with its desktop, made once.
static const char* hiddenDesktop() {
    static const bool made = [] {
        HWINSTA station = CreateWindowStationA("VarnelHidden", 0, WINSTA_ALL_ACCESS, nullptr);
        HWINSTA own = GetProcessWindowStation();
        bool ok = station && SetProcessWindowStation(station) &&
                  CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        SetProcessWindowStation(own);
        return ok;
    }();
    if (!made)
        throw std::runtime_error("cannot make a hidden window station");
    return "VarnelHidden\\Default";
}

RunResult run(const std::string& exe, const std::string& arguments, const std::string& from,
              const std::function<void(const Dialog&)>& handler, DWORD timeoutMs, bool hidden) {
    RunResult result;
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::string folder = from.empty() ? exe.substr(0, exe.find_last_of('\\')) : from;
    STARTUPINFOA startup = {sizeof(startup)};
    std::string desktop = hidden ? hiddenDesktop() : "";
    startup.lpDesktop = hidden ? desktop.data() : nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        throw std::runtime_error("cannot start " + exe);
    std::set<HWND> present;
    DWORD started = GetTickCount();
    result.finished = true;
    while (WaitForSingleObject(process.hProcess, 15) != WAIT_OBJECT_0) {
        std::set<HWND> now;
        for (HWND window : visibleWindows(process.dwProcessId))
            if (now.insert(window); !present.count(window) && handler) {
                Sleep(30); // let the dialog finish painting its texts
                handler(describe(window));
            }
        present = now;
        if (GetTickCount() - started >= timeoutMs) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            result.finished = false;
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    for (size_t at = 0, end;; at = end + separator.size()) {
        end = text.find(separator, at);
        out.push_back(text.substr(at, end - at));
        out.back().erase(std::remove(out.back().begin(), out.back().end(), '\r'), out.back().end());
        if (end == std::string::npos)
            return out;
    }
}

} // namespace bed
