#include "harness.h"

#include <map>
#include <set>
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
              DWORD timeoutMs, bool captureOutput) {
    RunResult result;
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::string folder = exe.substr(0, exe.find_last_of('\\'));

    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (captureOutput) {
        CreatePipe(&readEnd, &writeEnd, &inherit, 0);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, captureOutput, 0, nullptr,
                        folder.c_str(), &startup, &process))
        throw std::runtime_error("cannot start " + exe);
    if (writeEnd)
        CloseHandle(writeEnd);

    std::set<HWND> present;
    DWORD started = GetTickCount();
    for (;;) {
        if (readEnd) {
            DWORD available = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
                char buffer[4096];
                DWORD got = 0;
                if (!ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) || !got)
                    break;
                result.output.append(buffer, got);
            }
        }
        std::set<HWND> now;
        for (HWND window : visibleWindows(process.dwProcessId)) {
            now.insert(window);
            if (present.count(window))
                continue;
            Sleep(30); // let the dialog finish painting its texts
            Dialog dialog = describe(window);
            result.windows.push_back(dialog);
            if (handler)
                handler(dialog);
        }
        present = now;
        if (WaitForSingleObject(process.hProcess, 15) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - started >= timeoutMs) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            if (readEnd)
                CloseHandle(readEnd);
            return result;
        }
    }
    if (readEnd) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got)
            result.output.append(buffer, got);
        CloseHandle(readEnd);
    }
    result.finished = true;
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

std::map<std::string, std::string> parseValues(const std::string& output) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return values;
}

std::map<std::string, std::string> runProbe(const std::string& exe, const std::string& command) {
    RunResult r = run(exe, command, nullptr, 30000, true);
    if (!r.finished || r.exitCode != 0)
        throw std::runtime_error(exe + " " + command + " failed: " + r.output);
    return parseValues(r.output);
}

} // namespace bed
