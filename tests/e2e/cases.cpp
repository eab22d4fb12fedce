// The end-to-end cases as data (tests/cases/*.json, docs/testing.md
// "End-to-end cases"): each case and Windows version is one test that lays
// out files and registry, packs the manifest onto the stub, runs the
// uninstaller as a separate process, answers its windows, checks, and undoes
// what it made.
// The C++ tests linked in beside it run when no case file is given.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "harness.h"
#include "varnel.h"

using Json = nlohmann::json;

namespace {

// Every key a part of a case may have: a misspelt key fails the case.
const Json& allowOnly(const Json& j, const std::set<std::string>& keys, const char* where) {
    for (const auto& item : j.items())
        if (!j.is_object() || !keys.count(item.key()))
            throw std::runtime_error(std::string(where) + ": unknown key in " + j.dump());
    return j;
}

// The entries under a key; a single entry stands for a list of one. With
// `wrap`, a string entry stands for an object holding it under that name, and
// an object may have only the given keys.
Json list(const Json& j, const char* key, const char* wrap = nullptr,
          const std::set<std::string>& keys = {}) {
    Json out = !j.contains(key)    ? Json::array()
               : j[key].is_array() ? j[key]
                                   : Json::array({j[key]});
    for (Json& e : out)
        if (wrap)
            e = allowOnly(e.is_string() ? Json{{wrap, e}} : e, keys, key);
    return out;
}

// A row's UTF-8 text in the ANSI code page that the programs use, and back.
std::string recode(const std::string& s, bool toAnsi) {
    return (toAnsi ? varnel::utf8ToCodePage(s, GetACP()) : varnel::codePageToUtf8(s, GetACP()))
        .value();
}

// The folder placeholders, resolved once with the shell's own functions
// (SYSWOW: the system's 32-bit programs, SysWOW64 under WoW64); CANARY, the
// host's files the sealed bed must leave alone, reached through \\?\unix\.
const std::map<std::string, std::string>& folders() {
    static const std::map<std::string, std::string> all = [] {
        std::map<std::string, std::string> f;
        char b[MAX_PATH] = {};
        std::istringstream csidls(
            "WINDOWS 36 SYSTEM 37 SYSWOW 41 DESKTOP 16 PROGRAMS 2 STARTMENU 11 "
            "STARTUP 7 PERSONAL 5 APPDATA 26 LOCALAPPDATA 28 FONTS 20 PROFILE 40 "
            "PROGRAMFILES 38 COMMONFILES 43 COMMONAPPDATA 35 COMMONDESKTOP 25 "
            "COMMONPROGRAMS 23 COMMONDOCUMENTS 46 COMMONSTARTMENU 22 COMMONSTARTUP 24 "
            "PICTURES 39 MUSIC 13 VIDEOS 14 COMMONPICTURES 54 COMMONMUSIC 53 COMMONVIDEOS 55");
        int csidl = 0;
        for (std::string name; csidls >> name >> csidl;)
            if (SHGetSpecialFolderPathA(nullptr, b, csidl, FALSE))
                f[name] = b;
        for (const auto& [parent, of] :
             {std::pair{"PROFILES", "PROFILE"}, {"ALLUSERS", "COMMONDOCUMENTS"}})
            f[parent] = f[of].substr(0, f[of].find_last_of('\\'));
        GetTempPathA(MAX_PATH, b);
        f["TEMP"] = std::string(b, strlen(b) - 1);
        // Other names of each folder: its short name; with "/" for "\"; with every "\" doubled;
        // without its drive ("users\me", for a path that climbs to it).
        for (auto [name, path] : std::map<std::string, std::string>(f)) {
            GetShortPathNameA(path.c_str(), b, MAX_PATH);
            f["SHORT" + name] = b;
            f["SLASH" + name] = std::regex_replace(path, std::regex("\\\\"), "/");
            f["DOUBLED" + name] = std::regex_replace(path, std::regex("\\\\"), "\\\\");
            f["RELATIVE" + name] = path.substr(3);
        }
        HANDLE token; // the user's security identifier, the name of the user's hive under HKU
        DWORD size = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            std::string user(256, '\0');
            char* sid = nullptr;
            if (GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size) &&
                ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
                f["SID"] = sid, LocalFree(sid);
            CloseHandle(token);
        }
        if (GetEnvironmentVariableA("VARNEL_CANARY", b, MAX_PATH)) // host files outside the bed
            f["CANARY"] = b;
        if (GetEnvironmentVariableA("VARNEL_BED", b, MAX_PATH)) // drive C: by its host path
            f["UNIXC"] =
                "\\\\?\\unix" + std::regex_replace(b, std::regex("/"), "\\") + "\\prefix\\drive_c";
        return f;
    }();
    return all;
}

// A registry entry {"root", "key", "value", "type", "data", "view"}, or in
// short "ROOT\KEY" or "ROOT\KEY\\VALUE", either followed by "=DATA" (digits: a dword).
Json registryEntry(const Json& entry, bool withData = true) {
    if (!entry.is_string())
        return entry;
    std::string s = entry;
    size_t eq = s.find('='), slash = s.find('\\'), two = s.find("\\\\", slash + 1);
    Json e = {{"root", s.substr(0, slash)},
              {"key", s.substr(slash + 1, std::min(two, eq) - slash - 1)}};
    if (two < eq)
        e["value"] = s.substr(two + 2, eq - two - 2);
    std::string d = eq == s.npos ? "" : s.substr(eq + 1);
    if (eq != s.npos && withData)
        e["data"] = d.find_first_not_of("0123456789") == d.npos && !d.empty() ? Json(std::stoul(d))
                                                                              : Json(d);
    return e;
}

// A registry entry: root, key, value name, data (type and bytes) and view.
struct Reg {
    HKEY root;
    std::string key, value;
    bool hasValue = false, hasData = false;
    DWORD type = REG_SZ;
    std::string data;
    REGSAM view = 0;
};

// One run of a case: its folder, the uninstaller, and how to undo what the
// run made outside the folder (last first).
struct Run {
    std::string dir, exe, log, cwd; // cwd: where the uninstaller starts (empty: its folder)
    std::vector<std::function<void()>> undo;
    std::vector<HANDLE> held;          // files held open
    std::vector<std::string> product;  // lower-case parts of product paths and keys
    std::vector<std::string> messages; // of the windows with buttons
    int exitCode = 0;

    // The ANSI text of a JSON string with its %NAME% placeholders resolved;
    // %PADn% fills with 'l' up to n characters in all.
    std::string expand(const Json& j) const {
        static const std::regex token("%([A-Z]+)([0-9]*)%");
        std::string text = recode(j.get<std::string>(), true), out;
        auto last = text.cbegin();
        for (std::sregex_iterator it(text.begin(), text.end(), token), end; it != end; ++it) {
            out.append(last, (*it)[0].first);
            last = (*it)[0].second;
            std::string name = (*it)[1], number = (*it)[2];
            auto found = folders().find(name);
            if (name == "PAD" && !number.empty())
                out.resize(std::max<size_t>(std::stoul(number), out.size()), 'l');
            else if (number.empty() && (name == "CASE" || name == "EXE"))
                out += name == "CASE" ? dir : exe;
            else
                out += number.empty() && found != folders().end() ? found->second : it->str();
        }
        return out.append(last, text.cend());
    }
    // A path: relative ones are in the case folder.
    std::string path(const Json& j) const {
        std::string p = expand(j);
        return (p.size() > 1 && p[1] == ':') || p.rfind("\\\\", 0) == 0 ? p : dir + "\\" + p;
    }
    void made(const std::string& p) {
        if (p.rfind(dir + "\\", 0) != 0)
            undo.push_back([p] { bed::removeTree(p); });
    }
    Reg reg(const Json& entry) const {
        Json e = allowOnly(registryEntry(entry), {"root", "key", "value", "type", "data", "view"},
                           "a registry entry");
        auto root = varnel::registryRoot(e.value("root", "HKCU"));
        if (!root)
            throw std::runtime_error("no such root: " + e.dump());
        Reg r{HKEY(ULONG_PTR(*root)), expand(e["key"]),
              e.contains("value") ? expand(e["value"]) : "", e.contains("value"),
              e.contains("data")};
        if (e.contains("view")) // 64: the 64-bit view, 32: the 32-bit one
            r.view = e["view"] == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        std::string type = e.value("type", e["data"].is_number() ? "dword" : "sz");
        if (type == "dword")
            r.type = REG_DWORD, r.data.resize(4),
            *reinterpret_cast<DWORD*>(r.data.data()) = e["data"];
        else if (type == "binary")
            for (size_t i = 0, n = e["data"].get<std::string>().size(); i + 1 < n; i += 2)
                r.type = REG_BINARY,
                r.data += char(std::stoi(e["data"].get<std::string>().substr(i, 2), nullptr, 16));
        else if (r.hasData)
            r.data = expand(e["data"]) + '\0';
        return r;
    }
};

// The entry's key, opened in its view; null when it cannot be.
HKEY open(const Reg& r) {
    HKEY key = nullptr;
    return RegOpenKeyExA(r.root, r.key.c_str(), 0, KEY_ALL_ACCESS | r.view, &key) ? nullptr : key;
}

// The entry as it is now (its value's type and bytes, or only its key), or
// nothing when it is not there.
std::optional<Reg> query(Reg r) {
    HKEY key = open(r);
    DWORD size = 0;
    bool there = key && (!r.hasValue || RegQueryValueExA(key, r.value.c_str(), nullptr, &r.type,
                                                         nullptr, &size) == ERROR_SUCCESS);
    r.data.assign(size, '\0');
    if (there && r.hasValue)
        RegQueryValueExA(key, r.value.c_str(), nullptr, &r.type,
                         reinterpret_cast<BYTE*>(r.data.data()), &size);
    if (key)
        RegCloseKey(key);
    return there ? std::optional(r) : std::nullopt;
}

// Sets the entry's value; with `remove`, deletes it, or the key with all
// below it (never a root).
void set(const Reg& r, bool remove = false) {
    if (HKEY key = open(r)) {
        if (!remove)
            RegSetValueExA(key, r.value.c_str(), 0, r.type,
                           reinterpret_cast<const BYTE*>(r.data.data()), DWORD(r.data.size()));
        else if (r.hasValue)
            RegDeleteValueA(key, r.value.c_str());
        else if (!r.key.empty() && RegDeleteTreeA(key, nullptr) == ERROR_SUCCESS)
            RegDeleteKeyExA(r.root, r.key.c_str(), r.view, 0);
        RegCloseKey(key);
    }
}

// The manifest with its placeholders resolved and the short forms written
// out: a list of one may be just the entry; a file "FOLDER\NAME|FLAG|..."
// (split at the last backslash; none: folder ""); a registry entry as above.
Json resolved(const Run& run, const Json& j, const std::string& in = "") {
    static const std::set<std::string> lists = {"files", "groups", "registry", "patterns"};
    Json out = lists.count(in) && !j.is_array() ? Json::array({j}) : j;
    for (auto& item : out.items())
        if (out.is_structured())
            item.value() = resolved(run, item.value(), out.is_object() ? item.key() : "[" + in);
    if (!j.is_string() || out.is_array())
        return out;
    std::string s = recode(run.expand(j), false);
    if (in == "[registry")
        return resolved(run, registryEntry(j, false));
    size_t bar = s.find('|'), cut = s.find_last_of('\\', bar);
    if (in != "[files")
        return s;
    out = {{"folder", cut == s.npos ? "" : s.substr(0, cut)},
           {"name", s.substr(cut + 1, bar - cut - 1)}};
    for (size_t at = bar; at != s.npos; at = s.find('|', at + 1))
        out["flags"].push_back(s.substr(at + 1, s.find('|', at + 1) - at - 1));
    return out;
}

void layOut(Run& run, const Json& before) {
    allowOnly(before, {"files", "folders", "links", "registry", "registryGone", "inUse"}, "before");
    Json files =
        list(before, "files", "path", {"path", "content", "fixture", "readOnly", "folder"});
    for (const Json& f : list(before, "folders"))
        files.push_back({{"path", f}, {"folder", true}});
    for (const Json& f : files) {
        std::string p = run.path(f["path"]);
        for (size_t at = p.find('\\', 3); at != p.npos; at = p.find('\\', at + 1))
            if (std::string part = p.substr(0, at); CreateDirectoryA(part.c_str(), nullptr))
                run.made(part);
        if (!bed::exists(p))
            run.made(p);
        if (f.contains("folder"))
            CreateDirectoryA(p.c_str(), nullptr);
        else if (f.contains("fixture") &&
                 !CopyFileA(bed::fixture(f["fixture"]).c_str(), p.c_str(), FALSE))
            throw std::runtime_error("cannot copy " + f.dump());
        else if (!f.contains("fixture"))
            bed::writeText(p, f.contains("content") ? run.expand(f["content"]) : "content of " + p);
        if (f.value("readOnly", false))
            SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    for (const Json& l : list(before, "links", "path", {"path", "target"})) {
        std::string p = run.path(l["path"]);
        bed::makeLink(p, run.path(l["target"]));
        run.made(p);
    }
    for (const Json& e : list(before, "registryGone"))
        set(run.reg(e), true);
    for (const Json& e : list(before, "registry")) {
        Reg r = run.reg(e);
        HKEY key = nullptr;
        DWORD made = 0;
        if (RegCreateKeyExA(r.root, r.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | r.view, nullptr,
                            &key, &made) != ERROR_SUCCESS)
            throw std::runtime_error("cannot create the key " + r.key);
        RegCloseKey(key);
        if (made == REG_CREATED_NEW_KEY) // the key with all below it
            run.undo.push_back([r]() mutable { r.hasValue = false, set(r, true); });
        if (r.hasValue) { // put back afterwards
            std::optional<Reg> old = query(r);
            run.undo.push_back([r, old] { set(old.value_or(r), !old); });
            set(r);
        }
    }
}

// `"untouched": true`: a listing of drive C: (every path with its size and
// attributes) and of the registry (HKLM and HKU in the 64-bit view, which
// holds the 32-bit one as Wow6432Node; HKCU and HKCR lie within them),
// outside the case, taken before and after the run and compared whole.
using Inventory = std::set<std::string>;

std::string lower(std::string s) {
    CharLowerBuffA(s.data(), DWORD(s.size()));
    return s;
}

// The lines of a file (none when it is not there).
std::vector<std::string> textLines(const std::string& path) {
    varnel::Bytes b = bed::exists(path) ? varnel::readFileBytes(path) : varnel::Bytes();
    std::vector<std::string> lines = bed::split(std::string(b.begin(), b.end()), "\n");
    if (lines.back().empty()) // after the last line break
        lines.pop_back();
    return lines;
}

// The kind of bed this runs in: "win32" or "win64".
const std::string bedKind = getenv("VARNEL_BED_KIND") ? getenv("VARNEL_BED_KIND") : "win32";

// Skipped: the case's own folder and seam log, self-deletion's folders, and the keys Wine itself
// writes when a bed's first windowed program starts (found by listing around
// a harmless run): its device, display-adapter and hardware-profile keys and
// its per-user copy of the desktop's colours and metrics. No file differs.
bool skipped(const Run& run, const std::string& low) {
    static const std::vector<std::string> wine = {
        "hklm\\hardware\\", "\\control\\class\\", "\\control\\deviceclasses\\",
        "\\control\\servicecurrent\\", "\\control\\video\\", "\\hardware profiles\\current\\",
        "\\software\\wine\\temporary system parameters\\",
        // Self-deletion's folders of this run and of others, which go on their own.
        "\\windows\\temp\\varnel"};
    if (low == lower(run.dir + "\\") || low == lower(run.dir + ".seam.log"))
        return true;
    for (const auto* parts : {&run.product, &wine})
        for (const std::string& p : *parts)
            if (low.find(p) != low.npos)
                return true;
    return false;
}

void listFiles(const Run& run, const std::string& dir, Inventory& out, int depth = 0) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &f);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &f)) {
        std::string name = f.cFileName, p = dir + "\\" + name;
        bool folder = f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (name == "." || name == ".." || skipped(run, lower(p) + (folder ? "\\" : "")))
            continue;
        out.insert(p + (folder ? "\\" : "\t" + std::to_string(f.nFileSizeLow)) + "\t" +
                   std::to_string(f.dwFileAttributes));
        if (folder && !(f.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < 300)
            listFiles(run, p, out, depth + 1);
    }
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
}

void listKeys(const Run& run, HKEY key, const std::string& path, Inventory& out, int depth = 0) {
    if (skipped(run, lower(path + "\\")) || depth > 24)
        return;
    out.insert(path + "\\");
    char name[16384];
    static std::string data(1 << 16, '\0'); // used before the keys below are listed
    for (DWORD i = 0, n = sizeof(name), type = 0, size = DWORD(data.size());
         RegEnumValueA(key, i, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) == ERROR_SUCCESS;
         ++i, n = sizeof(name), size = DWORD(data.size()))
        if (!skipped(run, lower(path + "\\\\" + name)))
            out.insert(path + "\\\\" + name + "\t" + std::to_string(type) + "\t" +
                       std::to_string(std::hash<std::string_view>()({data.data(), size})));
    for (DWORD i = 0, n = sizeof(name);
         RegEnumKeyExA(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, n = sizeof(name)) {
        HKEY sub;
        if (RegOpenKeyExA(key, name, 0, KEY_READ | KEY_WOW64_64KEY, &sub) == ERROR_SUCCESS)
            listKeys(run, sub, path + "\\" + name, out, depth + 1), RegCloseKey(sub);
        else
            out.insert(path + "\\" + name + "\\ (closed)");
    }
}

Inventory inventory(const Run& run) {
    Inventory out;
    PVOID redirection = nullptr; // a 32-bit program sees the 64-bit System32 too
    BOOL off = Wow64DisableWow64FsRedirection(&redirection);
    listFiles(run, "C:", out);
    if (off)
        Wow64RevertWow64FsRedirection(redirection);
    listKeys(run, HKEY_LOCAL_MACHINE, "HKLM", out);
    listKeys(run, HKEY_USERS, "HKU", out);
    return out;
}

// The bar's position in another window of the process, -1 without a bar.
LRESULT progressPosition(const bed::Dialog& d) {
    DWORD process = 0;
    GetWindowThreadProcessId(d.window, &process);
    for (HWND window : bed::visibleWindows(process))
        if (HWND bar = GetDlgItem(window, 1009))
            return SendMessageA(bar, PBM_GETPOS, 0, 0);
    return -1;
}

// A line matches an expected one that names its leading fields; a field "*"
// stands for any.
bool matches(const std::string& line, const std::string& expected) {
    std::vector<std::string> have = bed::split(line, "\t"), want = bed::split(expected, "\t");
    for (size_t i = 0; i < want.size(); ++i)
        if (i >= have.size() || (want[i] != "*" && want[i] != have[i]))
            return false;
    return true;
}

// What does not hold of the files, texts and registry that `after` expects.
std::vector<std::string> problems(const Run& run, const Json& after) {
    std::vector<std::string> out;
    for (const Json& f : list(after, "exists", "path", {"path", "readOnly"})) {
        DWORD a = GetFileAttributesA(run.path(f["path"]).c_str());
        if (a == INVALID_FILE_ATTRIBUTES ||
            (f.contains("readOnly") && f["readOnly"] != bool(a & FILE_ATTRIBUTE_READONLY)))
            out.push_back(f.dump() + (a == INVALID_FILE_ATTRIBUTES ? " is gone" : " differs"));
    }
    for (const Json& f : list(after, "gone"))
        if (bed::exists(run.path(f)))
            out.push_back(run.path(f) + " is still there");
    Json texts = list(after, "text");
    if (after.contains("log")) // the seam log is a text like any other
        texts.push_back(after["log"]), texts.back()["path"] = "%CASE%.seam.log";
    for (const Json& t : texts) {
        // `utf8`: the text is in UTF-8, not in the ANSI code page.
        allowOnly(t, {"path", "has", "hasNot", "utf8"}, "after.text");
        auto expand = [&](const Json& e) {
            return t.value("utf8", false) ? recode(run.expand(e), false) : run.expand(e);
        };
        std::vector<std::string> lines = textLines(run.path(t["path"]));
        auto at = lines.begin();
        for (const Json& e : list(t, "has"))
            if ((at = std::find_if(at, lines.end(), [&](auto& l) {
                     return matches(l, expand(e));
                 })) == lines.end()) {
                std::string shown; // the text itself, for a look at what it holds
                for (size_t i = 0; i < lines.size() && i < 60; ++i)
                    shown += "\n    " + lines[i];
                return {run.path(t["path"]) + " lacks (in this order): " + expand(e) + shown};
            } else
                ++at;
        for (const Json& e : list(t, "hasNot"))
            for (const std::string& line : lines)
                if (matches(line, expand(e)))
                    out.push_back(run.path(t["path"]) + " holds: " + line);
    }
    for (const char* which : {"registry", "registryGone"})
        for (const Json& e : list(after, which)) {
            Reg r = run.reg(e);
            std::optional<Reg> now = query(r);
            if (bool(now) != (which[8] == 0) ||
                (now && r.hasData && (now->type != r.type || now->data != r.data)))
                out.push_back(e.dump() + (now ? " is there" : " is not there") +
                              (r.hasData ? " as given" : ""));
        }
    return out;
}

// The folder in the Windows folder's Temp whose batch file names the case's
// executable (by its short path); empty when there is none.
std::string batchFolderOf(const Run& run) {
    char windows[MAX_PATH], exe[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetShortPathNameA(run.exe.c_str(), exe, MAX_PATH);
    std::string temp = std::string(windows) + "\\Temp\\";
    for (const auto& e : std::filesystem::directory_iterator(temp)) {
        std::string name = e.path().filename().string();
        std::string folder = temp + name;
        if (name.rfind("Varnel", 0) != 0)
            continue;
        for (const auto& f : std::filesystem::directory_iterator(folder)) {
            varnel::Bytes text = varnel::readFileBytes(f.path().string());
            if (lower(std::string(text.begin(), text.end())).find(lower(exe)) != std::string::npos)
                return folder;
        }
    }
    return "";
}

// The windows with buttons, answered in order; the progress dialog has none
// and is left alone. A case without answers expects no window at all.
void runAndCheck(Run& run, const Json& c, const std::string& options) {
    const Json after = allowOnly(c.value("after", Json::object()),
                                 {"exists", "gone", "registry", "registryGone", "exitCode",
                                  "progress", "log", "wait", "text", "untouched", "batch"},
                                 "after");
    std::vector<Json> queue;
    for (const Json& a :
         list(c, "answers", "press",
              {"message", "caption", "buttons", "focus", "press", "key", "times", "release"}))
        queue.insert(queue.end(), a.value("times", 1), a);
    // `untouched`: true, a list of what else belongs to the product (parts of
    // paths and keys), or a name under which the first listing is kept for
    // the runs that follow (the layout before each run is the same).
    static std::map<std::string, Inventory> kept;
    Json untouched = after.value("untouched", Json(false));
    for (const Json& p : list(untouched, "product"))
        run.product.push_back(lower(run.expand(p)));
    std::string keep = untouched.is_object() ? untouched.value("keep", "") : "";
    Inventory outside = untouched == false ? Inventory()
                        : kept.count(keep) ? kept[keep]
                                           : inventory(run);
    if (!keep.empty())
        kept[keep] = outside;
    std::vector<LRESULT> positions;
    bed::RunResult r = bed::run(
        run.exe, run.expand(options), run.cwd,
        [&](const bed::Dialog& d) {
            if (d.buttons.empty())
                return;
            run.messages.push_back(d.message);
            positions.push_back(progressPosition(d));
            const Json& a = positions.size() <= queue.size() ? queue[positions.size() - 1]
                                                             : Json{{"key", "Esc"}};
            SCOPED_TRACE("window " + std::to_string(positions.size()) + ": " + d.message);
            EXPECT_LE(positions.size(), queue.size()) << "unexpected window: " << d.caption;
            for (const auto& [field, shown] :
                 {std::pair{"message", d.message}, {"caption", d.caption}})
                if (a.contains(field))
                    EXPECT_EQ(shown, run.expand(a[field])) << field;
            if (a.contains("buttons"))
                EXPECT_EQ(d.buttons, a["buttons"].get<std::vector<std::string>>());
            if (a.contains("focus"))
                EXPECT_EQ(bed::focusedLabel(d), a["focus"]);
            if (a.value("release", false))
                for (; !run.held.empty(); run.held.pop_back())
                    CloseHandle(run.held.back());
            std::string key = a.value("key", "");
            if (key == "Close")
                PostMessageA(d.window, WM_SYSCOMMAND, SC_CLOSE, 0);
            else if (!key.empty() || !bed::pressButton(d, a.value("press", ""))) {
                EXPECT_NE(key, "") << "no button " << a.value("press", "");
                bed::sendKey(d, key == "Enter" ? VK_RETURN : VK_ESCAPE);
            }
        },
        30000, c.value("station", "") == "hidden");
    run.exitCode = int(r.exitCode);
    EXPECT_TRUE(r.finished) << "killed after the time-out";
    EXPECT_EQ(positions.size(), queue.size()) << "windows answered";
    EXPECT_EQ(run.exitCode, after.value("exitCode", 0));
    if (after.contains("progress"))
        EXPECT_EQ(positions, after["progress"].get<std::vector<LRESULT>>());
    // `batch`: the batch file is in a folder of its own in the Windows folder's
    // Temp, found while the executable is held (the batch file waits for it);
    // that folder must go too.
    Json expect = after;
    if (after.value("batch", false)) {
        std::string folder = batchFolderOf(run);
        EXPECT_NE(folder, "") << "no batch file of its own folder names " << run.exe;
        for (; !run.held.empty(); run.held.pop_back())
            CloseHandle(run.held.back());
        expect["gone"] = list(after, "gone");
        expect["gone"].push_back(recode(folder, false));
    }
    // What happens after the uninstaller's exit (self-deletion, programs that
    // outlive it) is waited for, at most `wait` ms.
    std::vector<std::string> wrong = problems(run, expect);
    for (DWORD t = GetTickCount(); !wrong.empty() && GetTickCount() - t < after.value("wait", 0u);)
        Sleep(100), wrong = problems(run, expect);
    for (const std::string& w : wrong)
        ADD_FAILURE() << w;
    // The first few lines that one listing has and the other has not.
    Inventory now = untouched != false ? inventory(run) : Inventory();
    int shown = 0;
    for (const auto& [a, b, what] :
         {std::tuple{&outside, &now, "changed or gone: "}, {&now, &outside, "new or changed: "}})
        for (const std::string& line : *a)
            if (!b->count(line) && shown++ < 12)
                ADD_FAILURE() << "outside the product, " << what << line;
}

// An agreement row (docs/testing.md): whether the uninstaller acted on the
// row's entry as meant (every `meant` target gone, its `message` shown, the
// attempts its seam `log` must hold, where a target must not or cannot be
// touched; every decoy still there), against whether `varnel check` reports
// anything for the manifest. A finding must come exactly when the entry was
// not acted on as meant; `finding` is a part of the text one must hold.
void checkAgreement(const Run& run, const Json& c) {
    Json meant = allowOnly(c["meant"], {"gone", "registryGone", "log", "message"}, "meant");
    Json decoys = allowOnly(c.value("decoys", Json::object()), {"exists", "registry"}, "decoys");
    std::string why, findings;
    for (const std::string& w : problems(run, meant))
        why += "\n  " + w;
    for (const Json& m : list(meant, "message"))
        if (!std::count(run.messages.begin(), run.messages.end(), run.expand(m)))
            why += "\n  no window showed " + run.expand(m);
    for (const std::string& w : problems(run, decoys))
        why += "\n  decoy " + w;
    for (const varnel::Diagnostic& d :
         varnel::checkManifest(varnel::manifestFromJson(resolved(run, c["manifest"]))))
        findings += "\n  " + varnel::formatDiagnostic(d);
    EXPECT_EQ(findings.empty(), why.empty())
        << "acted as meant: " << (why.empty() ? "yes" : "no") << why
        << "\ncheck: " << (findings.empty() ? "ok" : findings);
    if (c.contains("finding") && !findings.empty())
        EXPECT_NE(findings.find(c["finding"].get<std::string>()), std::string::npos)
            << "no finding holds " << c["finding"] << findings;
}

void runCase(const Json& c, const std::string& version,
             const std::function<void(const Run&)>& inspect = nullptr) {
    allowOnly(c,
              {"name", "versions", "beds", "options", "exe", "cwd", "before", "manifest", "locator",
               "answers", "faults", "log", "env", "after", "meant", "decoys", "finding", "station",
               "stub"},
              "a case");
    Json beds = list(c, "beds"), options = list(c, "options");
    if (c.contains("beds") && std::find(beds.begin(), beds.end(), bedKind) == beds.end())
        GTEST_SKIP() << "only in the test beds " << beds.dump();
    // Rows with faults or a seam log run the test build of the uninstaller.
    std::string stub = c.value(
        "stub", c.contains("faults") || c.value("log", false) ? "uninst_seam.exe" : "uninst.exe");
    for (const Json& o : options.empty() ? Json::array({""}) : options) {
        SCOPED_TRACE("options \"" + o.get<std::string>() + "\"");
        Run run;
        try {
            run.dir = bed::caseDir(recode(c["name"], true));
            run.exe = run.path(c.value("exe", "uninst.exe"));
            run.made(run.exe);
            if (c.contains("cwd") &&
                CreateDirectoryA((run.cwd = run.path(c["cwd"])).c_str(), nullptr))
                run.made(run.cwd);
            run.log = c.value("log", false) ? run.dir + ".seam.log" : "";
            Json env = c.value("env", Json::object());
            env["VARNEL_SEAM"] = c.value("faults", "");
            env["VARNEL_SEAM_LOG"] = recode(run.log, false); // a JSON string is UTF-8
            for (const auto& [name, value] : env.items()) {
                char saved[MAX_PATH] = {};
                bool was = GetEnvironmentVariableA(name.c_str(), saved, MAX_PATH);
                run.undo.push_back([name = name, saved = std::string(saved), was] {
                    SetEnvironmentVariableA(name.c_str(), was ? saved.c_str() : nullptr);
                });
                std::string text = run.expand(value);
                SetEnvironmentVariableA(name.c_str(), text.empty() ? nullptr : text.c_str());
            }
            const Json before = c.value("before", Json::object());
            layOut(run, before);
            varnel::Bytes exe = varnel::readFileBytes(bed::fixture(stub));
            if (c.contains("manifest"))
                // Packed whatever its checks say: the record form's rows hold damaged payloads.
                exe = varnel::attachPayload(
                    exe, varnel::payloadBytesUnchecked(
                             varnel::manifestFromJson(resolved(run, c["manifest"]))));
            for (size_t i = 0, at = *varnel::findLocatorField(exe); c.contains("locator") && i < 4;
                 ++i)
                exe[at + i] = uint8_t(c["locator"].get<uint32_t>() >> (8 * i));
            varnel::writeFileBytes(run.exe, exe);
            bed::setWindowsVersion(run.exe.substr(run.exe.find_last_of('\\') + 1), version);
            // Held open to the end of the run: readable, as a running program
            // is; or, with "writing", written by a program that lets others
            // read, write and delete it.
            for (const Json& f : list(before, "inUse", "path", {"path", "writing"})) {
                bool writing = f.value("writing", false);
                run.held.push_back(
                    CreateFileA(run.path(f["path"]).c_str(),
                                writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                writing ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                        : FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr));
                if (run.held.back() == INVALID_HANDLE_VALUE)
                    throw std::runtime_error("cannot hold " + f.dump());
            }
            runAndCheck(run, c, o);
            if (c.contains("meant"))
                checkAgreement(run, c);
            if (inspect)
                inspect(run);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        for (HANDLE h : run.held)
            CloseHandle(h);
        bed::removeTree(run.dir);
        std::for_each(run.undo.rbegin(), run.undo.rend(), [](auto& u) { u(); });
        if (!getenv("VARNEL_KEEP_LOGS")) // kept for a look at what a run did
            DeleteFileA(run.log.c_str());
    }
}

// The fault sweep (faults.json): one product holding something of every kind
// is uninstalled as it is, then once for every call site that the seam log
// lists, with each error that call can meet, and once for every allocation
// made to fail. Each run is a row of the printed table, checked against the
// outcome that the rules give for its call, against a listing of everything
// outside the product, and for blocks held at exit.
struct Seen {
    std::vector<std::string> log, messages;
    std::set<std::string> present; // the sweep's items still there after the run
    int exitCode = 0;
};

Seen runProduct(const Json& sweep, const std::string& options, const std::string& faults, Json c,
                std::map<std::string, std::string>& itemPath) {
    c.merge_patch(sweep["case"]);
    c.update({{"options", options}, {"log", true}, {"faults", faults}});
    c["after"]["untouched"] = {{"product", sweep["product"]}, {"keep", "sweep"}};
    Seen seen;
    runCase(c, sweep["version"], [&](const Run& run) {
        seen = {textLines(run.log), run.messages, {}, run.exitCode};
        for (const auto& [name, item] : sweep["items"].items()) {
            if (problems(run, item).empty())
                seen.present.insert(name);
            const Json& p = item.begin().value(); // its path or key, resolved
            itemPath[name] =
                lower(item.contains("registry") ? "\t" + run.expand(p)
                                                : run.path(p.is_object() ? p["path"] : p));
        }
    });
    return seen;
}

// A call site: a call name where the log last named a product item of some
// role (allocations also by their size), first called there as the Nth call
// of that name; or a call name alone for the calls listed as "once". The calls listed as "never"
// cannot fail, and are not failed.
struct Site {
    std::string key, line, options;
    int nth;
};

void addSites(const Json& sweep, const Seen& seen, const std::string& options,
              std::vector<Site>& sites) {
    std::map<std::string, int> calls;
    std::string role = "start";
    for (const std::string& line : seen.log) {
        std::string name = bed::split(line, "\t")[0], low = lower(line + "\t");
        for (const Json& r : sweep["roles"])
            if (low.find(lower(r[0])) != low.npos) {
                role = r[1];
                break;
            }
        int nth = ++calls[name];
        std::string key = std::count(sweep["once"].begin(), sweep["once"].end(), name) ? name
                          : name.find("alloc") != name.npos
                              ? name + "@" + role + "#" + bed::split(line, "\t").back()
                              : name + "@" + role;
        bool cannotFail = std::count(sweep["never"].begin(), sweep["never"].end(), name);
        if (name != "blocks" && !cannotFail &&
            std::none_of(sites.begin(), sites.end(), [&](const Site& s) { return s.key == key; }))
            sites.push_back({key, line, options, nth});
    }
}

// The items a call names (a path or key ending in one of its fields) and the
// product's folders and keys above them.
std::set<std::string> named(const std::string& line,
                            const std::map<std::string, std::string>& itemPath) {
    std::set<std::string> out;
    bool registry = line.rfind("Reg", 0) == 0; // registry items are marked by a tab
    for (std::string f : bed::split(line, "\t"))
        for (const auto& [name, path] : itemPath)
            if (f = lower(f),
                f.size() > 2 && (path[0] == '\t') == registry &&
                    (path == f || (path.size() > f.size() &&
                                   path.substr(path.size() - f.size() - 1) == "\\" + f)))
                for (const auto& [above, p] : itemPath)
                    if (p == path || path.rfind(p + "\\", 0) == 0)
                        out.insert(above);
    return out;
}

// The failures recorded so far in the running test (only failures are recorded).
int failures() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

void runSweep(const Json& sweep) {
    std::map<std::string, std::string> itemPath;
    std::map<std::string, Seen> clean;
    std::vector<Site> sites;
    for (std::string options : {"/S", "/Q"}) {
        const Json& rule = sweep["clean"][options];
        clean[options] =
            runProduct(sweep, options, "", rule.value("case", Json::object()), itemPath);
        EXPECT_EQ(clean[options].present, rule["present"].get<std::set<std::string>>()) << options;
        addSites(sweep, clean[options], options, sites);
    }
    std::map<std::string, Json> rules; // keys given together share their rule
    for (const auto& [keys, rule] : sweep["expect"].items())
        for (const std::string& key : bed::split(keys, " "))
            rules[key] = rule;
    printf("%-34s %-7s %4s  %-30s %-40s %s\n", "call@where#size", "error", "exit", "message",
           "stayed (+) or went (-) unlike a clean run", "verdict");
    int wrong = 0, runs = 0;
    const char* only = getenv("VARNEL_SWEEP_ONLY"); // a part of the sites' keys
    for (const Site& site : sites) {
        std::string name = site.key.substr(0, site.key.find('@'));
        std::string where = site.key.substr(0, site.key.find('#'));
        Json rule = rules["*"];
        for (const std::string& k : {name, where, site.key}) // the most particular counts
            rule = rules.count(k) ? rules[k] : rule;
        const Seen& base = clean[site.options];
        std::set<std::string> expected;
        if (rule["effect"] != "named")
            expected = sweep["effects"].value(rule["effect"], Json::array());
        else // what a clean run removes of it
            for (const std::string& item : named(site.line, itemPath))
                if (!base.present.count(item))
                    expected.insert(item);
        Json c = {{"after", {{"exitCode", rule.value("exit", 0)}}}};
        if (rule.contains("message") && site.options != "/S") // unattended with S: no box
            c["answers"] = {{{"message", rule["message"]}, {"press", "OK"}}};
        for (const char* item : {"exe", "batch"}) // after /Q, the batch file's work
            if (site.options == "/Q")
                c["after"]["wait"] = 20000,
                c["after"][base.present.count(item) != expected.count(item) ? "exists" : "gone"]
                    .push_back(sweep["items"][item]["exists"]);
        // The 64-bit bed runs only the sites of the roles where the kinds differ
        // (the registry's views, the System folders): the rest behave alike.
        std::string role = where.find('@') == where.npos ? "" : where.substr(where.find('@') + 1);
        if ((only && site.key.find(only) == std::string::npos) ||
            (bedKind != "win32" &&
             std::count(sweep["win64Roles"].begin(), sweep["win64Roles"].end(), role) == 0))
            continue;
        bool alloc = name.find("alloc") != name.npos;
        for (const std::string& error :
             alloc ? Json::array({"memory"}) : rule.value("errors", Json::array({"denied"}))) {
            // A failed allocation is retried once: the second item fails the retry.
            std::string item = name + "#" + std::to_string(site.nth) + "!" +
                               std::to_string(sweep["errors"][error].get<int>());
            int before = failures();
            Seen seen =
                runProduct(sweep, site.options, item + (alloc ? "|" + item : ""), c, itemPath);
            std::set<std::string> diff;
            std::string stayed, shown;
            for (const auto& [item, j] : sweep["items"].items())
                if (base.present.count(item) != seen.present.count(item))
                    diff.insert(item), stayed += (seen.present.count(item) ? " +" : " -") + item;
            for (const std::string& m : seen.messages)
                shown += "\"" + m + "\" ";
            std::string what = site.key + " failing with " + error + ": " + site.line;
            EXPECT_EQ(diff, expected) << what;
            EXPECT_EQ(seen.log.empty() ? "" : seen.log.back(), "blocks\t0") << what;
            wrong += failures() != before, ++runs;
            printf("%-34s %-7s %4d  %-30.30s %-40s %s\n", site.key.c_str(), error.c_str(),
                   seen.exitCode, shown.c_str(), stayed.c_str(),
                   failures() != before ? "WRONG" : "ok");
            fflush(stdout);
        }
    }
    printf("%zu call sites, %d runs, %d outcomes wrong\n", sites.size(), runs, wrong);
}

struct Body : ::testing::Test {
    explicit Body(std::function<void()> f) : f(std::move(f)) {}
    void TestBody() override { f(); }
    std::function<void()> f;
};

} // namespace

// Each file is a list of cases (`cases`, with `defaults`), or the fault sweep.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bed::registerFixtures(argc, argv);
    std::set<std::string> names;
    for (std::filesystem::path path : std::vector<std::string>(argv + 1, argv + argc)) {
        std::string file = path.string(), suite = path.stem().string();
        if (path.extension() != ".json")
            continue;
        Json all = Json::parse(varnel::readFileBytes(file), nullptr, true, true);
        auto add = [&](const std::string& name, std::function<void()> f) {
            ::testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, file.c_str(), 0,
                                    [=]() -> ::testing::Test* { return new Body(f); });
        };
        if (!all.contains("cases"))
            add("sweep", [all] { runSweep(all); });
        for (const Json& row : all.value("cases", Json::array())) {
            Json c = all.value("defaults", Json::object());
            c.merge_patch(row);
            if (!names.insert(c.at("name")).second)
                throw std::runtime_error("two cases named " + c["name"].dump());
            for (const Json& v : c.value("versions", Json::array({"winxp"})))
                add(c["name"].get<std::string>() + "/" + v.get<std::string>(),
                    [c, v] { runCase(c, v); });
        }
    }
    return RUN_ALL_TESTS();
}
