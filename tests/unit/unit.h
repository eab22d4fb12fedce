// What the unit tests share: the seam for one scope and its log, and the
// state and current directory put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/seam.h"
#include "base/state.h"
#include "harness.h"
#include "payload/payload.h"
#include "payload_writer.h"

namespace unit {

// The seam's late calls are looked up once, before any test, as the program
// does at its start.
inline const bool lateCallsResolved = resolveLateCalls();

using Call = std::vector<std::string>; // one line of the seam log, split at its tabs

using bed::split;

// The rows of a table written as text: a row a line, fields separated by
// " | ", "~" for an empty field; blank lines and "//" lines are skipped.
inline std::vector<std::vector<std::string>> rows(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    for (std::string line : split(text, "\n")) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty() || line.compare(0, 2, "//") == 0)
            continue;
        out.push_back(split(line, " | "));
        for (std::string& field : out.back())
            if (field == "~")
                field.clear();
    }
    return out;
}

inline std::string currentDir() {
    char path[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof(path), path);
    return path;
}

// VARNEL_SEAM, and VARNEL_SEAM_LOG when a log is named, until the end of the scope.
struct Seam {
    std::string log;
    explicit Seam(const std::string& rules, const std::string& logPath = "") : log(logPath) {
        set(rules);
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", log.empty() ? nullptr : log.c_str());
    }
    ~Seam() { Seam::set(""), SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr); }
    // Rules may name the folder sources in short: "windows", "system", "temp" (the calls that
    // give those folders), "csidlN" (shell folder N), "key" (the CurrentVersion key),
    // "ProgramFilesDir" and "CommonFilesDir"; "SOURCE=PATH" answers PATH, "SOURCE" alone fails.
    static void set(const std::string& rules) {
        static const std::map<std::string, std::string> calls = {
            {"windows", "GetWindowsDirectoryA"},
            {"system", "GetSystemDirectoryA"},
            {"temp", "GetTempPathA"},
            {"key", "RegOpenKeyExA~CurrentVersion"},
            {"ProgramFilesDir", "RegQueryValueExA~ProgramFilesDir"},
            {"CommonFilesDir", "RegQueryValueExA~CommonFilesDir"}};
        std::string out;
        for (const std::string& item : split(rules, "|")) {
            std::string source = item.substr(0, item.find('=')), rest = item.substr(source.size());
            if (calls.count(source))
                source = calls.at(source);
            else if (source.rfind("csidl", 0) == 0 && source.find('!') == std::string::npos)
                source = "SHGetSpecialFolderLocation~" + source.substr(5);
            else
                source.clear();
            out += (out.empty() ? "" : "|") +
                   (source.empty() ? item : source + (rest.empty() ? "!2" : rest));
        }
        SetEnvironmentVariableA("VARNEL_SEAM", out.empty() ? nullptr : out.c_str());
    }
    // The calls logged since the last take whose names are among `names`
    // (separated by blanks; every call when empty).
    std::vector<Call> take(const std::string& names = "") {
        std::ifstream in(log, std::ios::binary);
        std::vector<Call> out;
        for (std::string line; std::getline(in, line);) {
            Call call = split(line.substr(0, line.find('\r')), "\t");
            if (names.empty() || (" " + names + " ").find(" " + call[0] + " ") != std::string::npos)
                out.push_back(call);
        }
        in.close();
        DeleteFileA(log.c_str());
        return out;
    }
};

// Reads a payload into the state, after freeing the last one.
inline int load(const varnel::Bytes& payload) {
    freePayload();
    return readPayloadChain(payload.data(), uint32_t(payload.size()), &state);
}

class StateTest : public ::testing::Test {
  protected:
    UninstallState saved = state;
    std::string savedDir = currentDir();
    void TearDown() override {
        state = saved;
        SetCurrentDirectoryA(savedDir.c_str());
    }
};

} // namespace unit
