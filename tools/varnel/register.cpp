#include "register.h"

#include <cstdio>

#include "ascii_text.h"
#include "codepage.h"
#include "rules.h"
#include "scope.h"

namespace varnel {
namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The folder macros that an environment variable names the same on every
// target system; the others (#System#, #MyDocuments#, #AllUsersDir#, ...) have
// none, or one that names another folder on some systems.
const struct {
    int macro;
    const char* variable;
} kVariables[] = {
    {MACRO_PROGRAM_FILES, "%ProgramFiles%"},
    {MACRO_COMMON_FILES, "%CommonProgramFiles%"},
    {MACRO_APP_DATA, "%APPDATA%"},
    {MACRO_LOCAL_APP_DATA, "%LOCALAPPDATA%"},
    {MACRO_ALL_USERS_APP_DATA, "%ProgramData%"},
    {MACRO_WINDOWS, "%SystemRoot%"},
    {MACRO_USER_DIR, "%USERPROFILE%"},
};

// The text with each folder macro replaced by its variable; `expanded` tells
// whether it held one.
std::string withVariables(const std::string& text, bool* expanded) {
    std::string out;
    const char* read = text.c_str();
    *expanded = false;
    for (const char* end; const char* open = findMacroToken(read, &end); read = end) {
        std::string token(open, end);
        int macro = macroNumber(open, size_t(end - open));
        const char* variable = nullptr;
        for (const auto& v : kVariables)
            if (v.macro == macro)
                variable = v.variable;
        if (!variable)
            throw RegistrationError(
                "\"" + token + "\"" +
                (macro < 0 ? " names no folder"
                           : " has no environment variable that names it on every system") +
                "; give the installation folder as a full path");
        out.append(read, open).append(variable);
        *expanded = true;
    }
    return out + read;
}

// A folder and a name below it, joined with one backslash.
std::string below(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// UTF-8 as UTF-16LE; a byte that does not belong to a well-formed character
// is U+FFFD.
void putUtf16(Bytes& out, const std::string& text) {
    auto unit = [&](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (size_t i = 0; i < text.size();) {
        uint32_t c = nextCharacter(text, i);
        if (c == kNoCharacter) {
            unit(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000)
            unit(0xD800 + ((c - 0x10000) >> 10)), c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        unit(c);
    }
}

// Whether a text given on the command line is well-formed UTF-8 with no
// control character: one that is not could carry, once decoded, a quote or a
// line's end that the .reg file's quoting never saw, and so write other keys.
bool plainText(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t c = nextCharacter(text, i);
        if (c == kNoCharacter || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

const char* typeName(RegistryValue::Type type) {
    return type == RegistryValue::Type::Dword          ? "REG_DWORD"
           : type == RegistryValue::Type::ExpandString ? "REG_EXPAND_SZ"
                                                       : "REG_SZ";
}

const char kViewNote[] = "Write the key in the 32-bit registry view (KEY_WOW64_32KEY; reg import "
                         "FILE /reg:32), where the uninstaller, a 32-bit program, removes it.";

} // namespace

std::string shownName(const Manifest& m) {
    if (m.registration && !m.registration->displayName.empty())
        return m.registration->displayName;
    try {
        std::vector<std::string> texts = resolveTexts(m.texts);
        return texts.empty() ? "" : texts[0];
    } catch (const ManifestError&) {
        return "";
    }
}

const char* quietUninstallOptions() {
    return "/Q";
}

std::string uninstallKeyPath(const Registration& registration) {
    return kUninstallKey + registration.key;
}

RegistryItem uninstallEntry(const Registration& registration) {
    return {registration.root, uninstallKeyPath(registration), std::nullopt};
}

RegistrationValues registrationValues(const Manifest& m, const std::string& installDir,
                                      const std::string& uninstallerName) {
    if (!m.registration)
        throw RegistrationError("the manifest has no register section");
    const Registration& r = *m.registration;
    if (!plainText(installDir) || !plainText(uninstallerName))
        throw RegistrationError("the installation folder and the uninstaller's name must be "
                                "well-formed UTF-8 with no control character");
    if (uninstallerName.empty() || uninstallerName.find_first_of("\\/:\"") != std::string::npos)
        throw RegistrationError("the uninstaller's name must be a plain file name (it lies in the "
                                "installation folder itself)");
    std::string dir = installDir;
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    bool expanded = false;
    std::string shown = withVariables(dir, &expanded);
    if (dir.find('"') != std::string::npos)
        throw RegistrationError("the installation folder holds a double quote");
    if (expanded ? dir[0] != '#' || dir.find('%') != std::string::npos
                 : folderAnchor(dir.c_str()) != ANCHOR_FULL)
        throw RegistrationError("the installation folder must be a full path (\"C:\\Program "
                                "Files\\Product\") or start with a folder macro (\"#Program "
                                "Files#\\Product\"), and then hold no percent sign");
    if (r.root == ROOT_HKCU)
        if (std::optional<std::string> why = outsideUserSpace(dir))
            throw RegistrationError(*why + ": a product registered under HKCU is installed per "
                                           "user, in the user's own folders (\"#LocalAppData#\\"
                                           "Product\")");
    RegistrationValues out;
    out.root = r.root;
    out.key = uninstallKeyPath(r);
    auto text = [&](const char* name, const std::string& value, bool expandable = false) {
        if (!value.empty())
            out.values.push_back(
                {name, expandable ? RegistryValue::Type::ExpandString : RegistryValue::Type::String,
                 value, 0});
    };
    auto dword = [&](const char* name, uint32_t value) {
        out.values.push_back({name, RegistryValue::Type::Dword, "", value});
    };
    std::string uninstaller = below(shown, uninstallerName);
    text("DisplayName", shownName(m));
    text("DisplayVersion", r.version);
    text("Publisher", r.publisher);
    text("Comments", r.comments);
    text("URLInfoAbout", r.urlInfoAbout);
    text("HelpLink", r.helpLink);
    text("URLUpdateInfo", r.urlUpdateInfo);
    if (r.displayIcon.empty())
        text("DisplayIcon", uninstaller, expanded);
    else if (folderAnchor(r.displayIcon.c_str()) == ANCHOR_INSTALL_DIR)
        text("DisplayIcon", below(shown, r.displayIcon.substr(r.displayIcon.size() > 1 ? 2 : 1)),
             expanded);
    else
        text("DisplayIcon", r.displayIcon);
    text("InstallLocation", shown, expanded);
    text("UninstallString", "\"" + uninstaller + "\"", expanded);
    text("QuietUninstallString", "\"" + uninstaller + "\" " + quietUninstallOptions(), expanded);
    if (r.estimatedSize)
        dword("EstimatedSize", *r.estimatedSize);
    dword("NoModify", 1);
    dword("NoRepair", 1);
    return out;
}

Bytes regFile(const RegistrationValues& registration) {
    // The key stands in a section line of its own, where nothing is quoted: a
    // line's end in it would start other sections, of other keys.
    if (!plainText(registration.key))
        throw RegistrationError("the key must be well-formed UTF-8 with no control character");
    std::string root = registration.root == ROOT_HKCU ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    Bytes out = {0xFF, 0xFE};
    auto line = [&](const std::string& text) { putUtf16(out, text + "\r\n"); };
    auto quoted = [](const std::string& text) {
        std::string q = "\"";
        for (char c : text)
            q += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
        return q + "\"";
    };
    line("Windows Registry Editor Version 5.00");
    line("");
    line("; " + std::string(kViewNote));
    line("[" + root + "\\" + registration.key + "]");
    for (const RegistryValue& v : registration.values) {
        std::string name = quoted(v.name) + "=";
        bool plain = v.type == RegistryValue::Type::String;
        for (char c : v.text)
            plain = plain && uint8_t(c) >= 0x20;
        if (v.type == RegistryValue::Type::Dword) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%08x", unsigned(v.number));
            line(name + "dword:" + digits);
        } else if (plain) {
            line(name + quoted(v.text));
        } else { // hex(2) expandable, hex(1) a string that holds control characters
            Bytes data;
            putUtf16(data, v.text);
            data.insert(data.end(), {0, 0});
            std::string hex = v.type == RegistryValue::Type::ExpandString ? "hex(2):" : "hex(1):";
            for (size_t i = 0; i < data.size(); ++i) {
                char byte[4];
                std::snprintf(byte, sizeof byte, "%02x", data[i]);
                hex += (i ? "," : "") + std::string(byte);
            }
            line(name + hex);
        }
    }
    line("");
    return out;
}

std::string registrationJson(const RegistrationValues& registration) {
    Json values = Json::array();
    for (const RegistryValue& v : registration.values) {
        Json value = Json::object();
        value["name"] = v.name;
        value["type"] = typeName(v.type);
        if (v.type == RegistryValue::Type::Dword)
            value["data"] = v.number;
        else
            value["data"] = v.text;
        values.push_back(value);
    }
    Json out = Json::object();
    out["note"] = kViewNote;
    out["root"] = registration.root == ROOT_HKCU ? "HKCU" : "HKLM";
    out["key"] = registration.key;
    out["view"] = 32;
    out["values"] = values;
    return formatJsonDocument(out);
}

} // namespace varnel
