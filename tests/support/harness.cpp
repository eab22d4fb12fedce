#include "harness.h"

#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace bed {

namespace {
std::map<std::string, std::string> fixtures;

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

void registerFixtures(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        fixtures[baseName(argv[i])] = argv[i];
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

void removeTree(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                removeTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
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
    if (version.empty()) {
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        return;
    }
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set the Windows version for " + exeName);
    RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   DWORD(version.size() + 1));
    RegCloseKey(handle);
}

RunResult run(const std::string& exe, const std::string& arguments, const WindowHandler& handler,
              DWORD timeoutMs) {
    RunResult result;
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::string folder = exe.substr(0, exe.find_last_of('\\'));
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        throw std::runtime_error("cannot start " + exe);
    std::set<HWND> present;
    DWORD started = GetTickCount();
    bool killed = false;
    while (WaitForSingleObject(process.hProcess, 15) != WAIT_OBJECT_0) {
        std::set<HWND> now;
        for (HWND window : visibleWindows(process.dwProcessId)) {
            now.insert(window);
            if (present.count(window))
                continue;
            Sleep(30); // let the dialog finish painting its texts
            result.windows.push_back(describe(window));
            if (handler)
                handler(result.windows.back());
        }
        present = now;
        if (GetTickCount() - started >= timeoutMs) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            killed = true;
            break;
        }
    }
    result.finished = !killed;
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

std::map<std::string, std::string> parseValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (size_t eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1, line.find('\r') - eq - 1);
    return values;
}

} // namespace bed
