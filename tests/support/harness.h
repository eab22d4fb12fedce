// End-to-end harness: lays out cases in the throwaway prefix, places a fresh
// uninstaller with a payload, runs it as a separate process and watches every
// window it shows.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "automation.h"
#include "payload_writer.h"

namespace bed {

// Programs handed to the test executable on its command line (C: paths).
void registerFixtures(int argc, char** argv);
std::string fixture(const std::string& fileName); // e.g. "uninst.exe"

// A fresh, empty folder C:\vt\NAME (removed first if it exists).
std::string caseDir(const std::string& name);
void removeTree(const std::string& path);
bool exists(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// Reports the given Windows version ("win98", "winxp", "win7", "win10") to
// every program of that file name; empty removes the setting.
void setWindowsVersion(const std::string& exeName, const std::string& version);

// Called once for each window as it appears; it may press a button or a key.
using WindowHandler = std::function<void(const Dialog&)>;

struct RunResult {
    bool finished = false; // false: killed after the time-out
    DWORD exitCode = 0;
    std::vector<Dialog> windows; // every window seen, in order of appearance
};

RunResult run(const std::string& exe, const std::string& arguments,
              const WindowHandler& handler = nullptr, DWORD timeoutMs = 30000);

// The "key=value" lines of a text (a fixture server's log).
std::map<std::string, std::string> parseValues(const std::string& output);

} // namespace bed
