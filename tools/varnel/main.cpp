// varnel: packs, inspects and checks uninstall payloads.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "fileio.h"
#include "varnel.h"

namespace {

using namespace varnel;
namespace fs = std::filesystem;

enum { kExitOk = 0, kExitError = 1, kExitUsage = 2 };

struct Command {
    const char* name;
    const char* synopsis;
    const char* options; // the options it takes, each between spaces
    const char* help;
};

const Command kCommands[] = {
    {"pack", "varnel pack MANIFEST.json -o OUT.exe [--stub PATH]", " -o --stub ",
     "Checks the manifest, builds the payload and writes a copy of the stub with it appended.\n"
     "Errors stop it and nothing is written; warnings are printed and packing goes on.\n"
     "OUT.exe is written whole or not at all, and never over the stub or the manifest.\n"
     "The stub is --stub, else $VARNEL_STUB, else ../share/varnel from the folder that\n"
     "holds varnel; a folder holds both stubs: uninst.exe for a product installed per\n"
     "machine, uninst-user.exe for one installed per user (\"scope\": \"user\", or a\n"
     "register section under HKCU). A stub for the other scope is refused.\n"
     "MANIFEST.json may be - (standard input).\n"},
    {"dump", "varnel dump UNINSTALLER.exe [-o MANIFEST.json] [--code-page N]", " -o --code-page ",
     "Prints an uninstaller's payload as a manifest; packing it gives the same payload.\n"
     "It says on standard error which stub the uninstaller carries, by its manifest's\n"
     "requestedExecutionLevel, and gives \"scope\" where the register section does not.\n"
     "Texts are converted from code page N, else from the code page the payload names,\n"
     "else from 1252. UNINSTALLER.exe may be - and at most 64 MiB are read from it.\n"},
    {"check", "varnel check MANIFEST.json [--json]", " --json ",
     "Reports every error (what cannot be packed, or would remove what it should not) and\n"
     "warning (what the uninstaller will pass over), each with its place in the manifest,\n"
     "or one line \"ok: ...\"; --json prints them as one JSON object. MANIFEST.json may be -.\n"},
    {"scan", "varnel scan DIR [-o FILES.json] [--code-page N] [--exclude GLOB]...",
     " -o --code-page --exclude ",
     "Lists a staged product folder as a manifest's file list, each folder before what\n"
     "it holds, and its estimated size. Symbolic links are not followed; names must fit\n"
     "code page N (default 1252). --exclude leaves out what GLOB matches by name or by\n"
     "path below DIR (\"*.pdb\", \"docs/drafts\").\n"},
    {"init",
     "varnel init DIR [-o MANIFEST.json] [--product NAME] [--language L] [--code-page N] "
     "[--exclude GLOB]...",
     " -o --product --language --code-page --exclude ",
     "Writes a starting manifest for a staged product folder: its product name (default:\n"
     "the folder's name), language (default English) with its code page, options, its\n"
     "registration (per machine, with the estimated size) and the scanned files, with\n"
     "empty groups, registry and patterns to fill in. It never overwrites a file.\n"},
    {"register",
     "varnel register MANIFEST.json --install-dir DIR [--format reg|json] [-o FILE] "
     "[--uninstaller NAME]",
     " --install-dir --format -o --uninstaller ",
     "Writes what the installer creates for Programs and Features: the key of the\n"
     "manifest's register section with its values, as a .reg file (UTF-16, for regedit\n"
     "or reg import) or JSON. DIR is the installation folder, a full path or one that\n"
     "starts with a folder macro (#Program Files#\\Product: the values that hold it are\n"
     "expandable, with %ProgramFiles%). The uninstaller is DIR\\NAME (default uninst.exe).\n"
     "Write the key in the 32-bit registry view (reg import FILE /reg:32).\n"},
    {"texts", "varnel texts [LANGUAGE]", " ",
     "Prints a built-in language's texts as a manifest to start from; without a language,\n"
     "lists the languages and their code pages.\n"},
};

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void printUsage(std::ostream& out) {
    out << "usage:\n";
    for (const Command& c : kCommands)
        out << "  " << c.synopsis << "\n";
    out << "  varnel --version\n"
           "  varnel COMMAND --help\n"
           "Options take their value as --opt VALUE or --opt=VALUE. Exit codes: 0 done\n"
           "(warnings allowed), 1 errors, 2 wrong usage.\n";
}

// Shows control characters of names and texts as \xNN, so that nothing a
// manifest or a payload holds can drive the terminal.
std::string printable(const std::string& s) {
    std::string out;
    for (char c : s) {
        uint8_t b = uint8_t(c);
        if (b < 0x20 || b == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out;
}

struct UsageError {
    std::string problem;
};

struct Arguments {
    const Command* command = nullptr;
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> options;
    bool help = false;

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::string get(const std::string& option, const std::string& otherwise = "") const {
        auto it = options.find(option);
        return it == options.end() ? otherwise : it->second.back();
    }
    std::vector<std::string> all(const std::string& option) const {
        auto it = options.find(option);
        return it == options.end() ? std::vector<std::string>() : it->second;
    }
};

// Options that take no value, and those that may be given more than once.
bool isFlag(const std::string& option) {
    return option == "--json";
}
bool repeats(const std::string& option) {
    return option == "--exclude";
}

Arguments parseArguments(const Command& command, int argc, char** argv) {
    Arguments a;
    a.command = &command;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-') {
            a.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            a.help = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name == "--output")
            name = "-o";
        static const char* const known[] = {
            "-o",        "--stub", "--code-page",   "--product", "--language",
            "--exclude", "--json", "--install-dir", "--format",  "--uninstaller"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            throw UsageError{"unknown option " + printable(name)};
        if (std::string(command.options).find(" " + name + " ") == std::string::npos)
            throw UsageError{std::string(command.name) + " does not take " + name};
        if (isFlag(name) && value)
            throw UsageError{name + " takes no value"};
        if (isFlag(name))
            value = "";
        if (!value) {
            if (i + 1 >= argc)
                throw UsageError{name + " needs a value"};
            value = argv[++i];
        }
        if (a.options.count(name) && !repeats(name))
            throw UsageError{name + " is given twice"};
        a.options[name].push_back(*value);
    }
    return a;
}

unsigned codePageOption(const Arguments& a, unsigned otherwise) {
    if (!a.has("--code-page"))
        return otherwise;
    std::string text = a.get("--code-page");
    char* end = nullptr;
    unsigned long cp = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || cp == 0 || cp > 65535)
        throw UsageError{"--code-page needs a code page number"};
    if (!isSupportedCodePage(unsigned(cp)))
        throw UsageError{"code page " + text +
                         " is not supported (1250 to 1258, 874, 932, 936, 949, 950, 437, 850, "
                         "852, 866)"};
    return unsigned(cp);
}

void expectPositional(const Arguments& a, size_t count, const char* what) {
    if (a.positional.size() != count)
        throw UsageError{std::string(a.command->name) + " needs " + what};
}

// Where messages come from: the file, and the tool for what has no file.
void report(const std::string& file, const std::vector<Diagnostic>& diagnostics) {
    for (const Diagnostic& d : diagnostics)
        std::cerr << printable(inputName(file)) << ": " << printable(formatDiagnostic(d)) << "\n";
}

void reportManifestError(const std::string& file, const ManifestError& e) {
    std::string name = printable(inputName(file));
    if (e.line) {
        std::cerr << name << ":" << e.line << ":" << e.column << ": error: " << e.problem << "\n";
        return;
    }
    for (const auto& [where, problem] : e.all)
        std::cerr << name
                  << ": error: " << printable(where.empty() ? problem : where + ": " + problem)
                  << "\n";
}

// A manifest's findings, reading problems included (checkManifestText), and
// what could be read of it; nothing when it is no JSON (reported then).
std::optional<std::pair<Manifest, std::vector<Diagnostic>>> checkedManifest(const std::string& path,
                                                                            bool quiet = false) {
    Bytes bytes = readInput(path);
    std::pair<Manifest, std::vector<Diagnostic>> found;
    try {
        found.second = checkManifestText(std::string(bytes.begin(), bytes.end()), &found.first);
    } catch (const ManifestError& e) {
        if (!quiet)
            reportManifestError(path, e);
        throw;
    }
    if (!quiet)
        report(path, found.second);
    return found;
}

// The manifest, its findings reported; nothing when it has errors.
std::optional<Manifest> loadManifest(const std::string& path) {
    try {
        auto found = checkedManifest(path);
        if (hasErrors(found->second))
            return std::nullopt;
        return found->first;
    } catch (const ManifestError&) {
        return std::nullopt;
    }
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The folder that holds the running varnel, or nothing.
std::optional<fs::path> programFolder(const char* argv0) {
    std::error_code ec;
#ifdef _WIN32
    char buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer)
        return fs::path(std::string(buffer, n)).parent_path();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path();
#endif
    // Only a path with a folder in it says where varnel is; a bare name
    // would point at the current folder.
    fs::path given(argv0);
    if (given.has_parent_path())
        return fs::absolute(given, ec).parent_path();
    return std::nullopt;
}

fs::path installedStub(const char* argv0, Scope scope) {
    std::optional<fs::path> folder = programFolder(argv0);
    return folder ? (*folder / ".." / "share" / "varnel" / stubFileName(scope)).lexically_normal()
                  : fs::path();
}

// The stub of a scope, in this order: --stub, $VARNEL_STUB (a file, or a
// folder that holds both stubs), the installed data folder.
std::string findStub(const Arguments* a, const char* argv0, Scope scope,
                     std::string* tried = nullptr) {
    std::string given = a && a->has("--stub") ? a->get("--stub") : "";
    if (const char* env = std::getenv("VARNEL_STUB"); given.empty() && env && *env)
        given = env;
    std::error_code ec;
    if (!given.empty())
        return fs::is_directory(given, ec) ? (fs::path(given) / stubFileName(scope)).string()
                                           : given;
    fs::path installed = installedStub(argv0, scope);
    if (tried)
        *tried = installed.string();
    return !installed.empty() && fs::is_regular_file(installed, ec) ? installed.string() : "";
}

int pack(const Arguments& a, const char* argv0) {
    expectPositional(a, 1, "one manifest");
    std::string manifestPath = a.positional[0];
    std::string out = a.get("-o");
    if (out.empty())
        throw UsageError{"pack needs -o OUT.exe"};
    if (out == "-")
        throw UsageError{"pack writes an executable: give -o a file name, not -"};
    std::optional<Manifest> loaded = loadManifest(manifestPath);
    if (!loaded)
        return kExitError;
    const Manifest& manifest = *loaded;
    std::string tried;
    Scope scope = productScope(manifest);
    std::string stubPath = findStub(&a, argv0, scope, &tried);
    if (stubPath.empty()) {
        std::cerr << "varnel: no stub found" << (tried.empty() ? "" : " at " + tried)
                  << "; give it with --stub PATH or the environment variable VARNEL_STUB\n";
        return kExitError;
    }
    for (const std::string& input : {stubPath, manifestPath})
        if (sameFile(out, input)) {
            std::cerr << "varnel: " << out << " is "
                      << (input == stubPath ? "the stub" : "the manifest")
                      << "; give another output\n";
            return kExitError;
        }
    Bytes stub = readInput(stubPath);
    if (std::optional<std::string> problem = stubProblem(stub, scope)) {
        std::cerr << "varnel: " << stubPath << ": " << *problem << "\n";
        return kExitError;
    }
    Bytes payload = buildPayload(manifest);
    writeOutput(out, attachPayload(stub, payload), true);
    std::cerr << "varnel: " << out << ": " << payload.size() << " payload bytes at offset "
              << stub.size() << (scope == Scope::User ? ", per user" : "") << "\n";
    return kExitOk;
}

// The manifest text with DEL and the C1 controls, which JSON leaves as they
// are, escaped as well.
std::string escapeControls(const std::string& json) {
    std::string out;
    for (size_t i = 0; i < json.size(); ++i) {
        uint8_t b = uint8_t(json[i]);
        uint8_t next = i + 1 < json.size() ? uint8_t(json[i + 1]) : 0;
        if (b == 0x7F || (b == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", b == 0x7F ? 0x7F : next);
            out += buffer;
            i += b == 0xC2 ? 1 : 0;
        } else {
            out += json[i];
        }
    }
    return out;
}

int dump(const Arguments& a) {
    expectPositional(a, 1, "one uninstaller");
    std::optional<unsigned> codePage;
    if (a.has("--code-page"))
        codePage = codePageOption(a, 1252);
    const std::string& input = a.positional[0];
    std::string out = a.get("-o", "-");
    if (sameFile(out, input)) {
        std::cerr << "varnel: " << out << " is the uninstaller itself; give another output\n";
        return kExitError;
    }
    Bytes executable = readInput(input);
    SplitPayload split;
    Manifest manifest;
    try {
        split = splitPayload(executable);
        manifest = manifestFromPayload(split, codePage);
        std::optional<Scope> stub = stubScope(executable);
        scopeFromStub(manifest, stub);
        // The level is the file's own text: shown as printable characters only.
        std::optional<std::string> level = requestedExecutionLevel(executable);
        if (level)
            level = printable(*level);
        std::cerr << "varnel: stub: "
                  << (stub ? std::string(stubFileName(*stub)) + " (" + *level + ", per " +
                                 scopeName(*stub) + ")"
                           : "neither uninst.exe nor uninst-user.exe (requestedExecutionLevel " +
                                 level.value_or("none") + ")")
                  << "\n";
        std::optional<InfoItem> info = payloadInfo(split);
        if (info && codePage && *codePage != info->codePage)
            std::cerr << "varnel: note: the payload says its code page is " << info->codePage
                      << "; read as " << *codePage << "\n";
    } catch (const PayloadDamage& damage) {
        std::cerr << "varnel: " << printable(inputName(input))
                  << ": damaged payload: " << damage.what() << "\n";
        return kExitError;
    }
    if (split.end < executable.size())
        std::cerr << "varnel: note: " << executable.size() - split.end
                  << " bytes follow the payload's RT_END (a signature, say); the uninstaller "
                     "does not read them\n";
    writeOutput(out, textBytes(escapeControls(formatManifest(manifest))));
    return kExitOk;
}

// check --json: {"file", "findings": [{"level", "where", "message"}], "summary",
// "errors", "warnings"}; a JSON syntax error is a finding with its line and column.
void printJsonFindings(const std::string& path, const std::vector<Diagnostic>& diagnostics,
                       const Manifest* manifest, const ManifestError* syntax) {
    Json findings = Json::array();
    size_t errors = 0;
    for (const Diagnostic& d : diagnostics) {
        bool error = d.level == Diagnostic::Level::Error;
        errors += error;
        findings.push_back(
            {{"level", error ? "error" : "warning"}, {"where", d.where}, {"message", d.message}});
    }
    if (syntax) {
        ++errors;
        findings.push_back({{"level", "error"},
                            {"where", ""},
                            {"line", syntax->line},
                            {"column", syntax->column},
                            {"message", syntax->problem}});
    }
    Json out = Json::object();
    out["file"] = inputName(path);
    out["findings"] = findings;
    out["summary"] = manifest && !errors ? Json(summarizeManifest(*manifest)) : Json(nullptr);
    out["errors"] = errors;
    out["warnings"] = findings.size() - errors;
    std::cout << escapeControls(
        formatJsonDocument(Json::parse(out.dump(-1, ' ', false, Json::error_handler_t::replace))));
}

int check(const Arguments& a) {
    expectPositional(a, 1, "one manifest");
    const std::string& path = a.positional[0];
    bool json = a.has("--json");
    std::optional<std::pair<Manifest, std::vector<Diagnostic>>> found;
    try {
        found = checkedManifest(path, json);
    } catch (const ManifestError& e) {
        if (json)
            printJsonFindings(path, {}, nullptr, &e);
        return kExitError;
    }
    const auto& [manifest, diagnostics] = *found;
    if (json)
        printJsonFindings(path, diagnostics, &manifest, nullptr);
    if (hasErrors(diagnostics))
        return kExitError;
    if (json)
        return kExitOk;
    std::cout << printable(inputName(path)) << ": ok: " << summarizeManifest(manifest)
              << (diagnostics.empty() ? ""
                                      : " (" + std::to_string(diagnostics.size()) +
                                            (diagnostics.size() == 1 ? " warning)" : " warnings)"))
              << "\n";
    return kExitOk;
}

// A scan, its warnings and errors printed; nothing when it has errors.
std::optional<ScanReport> scanReported(const std::string& folder, unsigned codePage,
                                       const std::vector<std::string>& excludes) {
    ScanReport report = scanTree(folder, codePage, excludes);
    for (const std::string& w : report.warnings)
        std::cerr << "varnel: warning: " << printable(w) << "\n";
    for (const std::string& e : report.errors)
        std::cerr << "varnel: error: " << printable(e) << "\n";
    if (report.unstorable)
        std::cerr << "varnel: " << report.unstorable
                  << (report.unstorable == 1 ? " name" : " names")
                  << " cannot be stored in code page " << codePage
                  << ": leave them out with --exclude GLOB, or choose --code-page\n";
    if (!report.errors.empty())
        return std::nullopt;
    return report;
}

int scan(const Arguments& a) {
    expectPositional(a, 1, "one folder");
    std::optional<ScanReport> report =
        scanReported(a.positional[0], codePageOption(a, 1252), a.all("--exclude"));
    if (!report)
        return kExitError;
    Manifest manifest;
    manifest.files = report->files;
    Json out = Json::object();
    out["files"] = manifest.files.empty() ? Json::array() : manifestToJson(manifest)["files"];
    out["register"] = Json::object({{"estimatedSize", estimatedSizeKb(report->bytes)}});
    writeOutput(a.get("-o", "-"), textBytes(formatJsonDocument(out)));
    return kExitOk;
}

int init(const Arguments& a) {
    expectPositional(a, 1, "one folder");
    std::string folder = a.positional[0];
    std::optional<std::string> language = canonicalLanguageName(a.get("--language", "English"));
    if (!language)
        throw UsageError{"unknown language " + printable(a.get("--language"))};
    unsigned codePage = codePageOption(a, *languageCodePage(*language));
    std::string out = a.get("-o", "-");
    std::error_code ec;
    if (out != "-" && fs::exists(out, ec)) {
        std::cerr << "varnel: " << out << " exists; init never overwrites a manifest\n";
        return kExitError;
    }
    std::string product = a.get("--product");
    if (product.empty())
        product = fs::absolute(fs::path(folder), ec).lexically_normal().filename().string();
    if (product.empty())
        product =
            fs::absolute(fs::path(folder), ec).lexically_normal().parent_path().filename().string();
    std::optional<ScanReport> report = scanReported(folder, codePage, a.all("--exclude"));
    if (!report)
        return kExitError;
    Registration registration;
    registration.key = product;
    registration.estimatedSize = estimatedSizeKb(report->bytes);
    Manifest files;
    files.files = report->files;
    Json json = Json::object();
    json["codePage"] = codePage;
    json["language"] = *language;
    json["texts"] = Json::object({{"caption", product}});
    json["options"] = Json::object({{"wait", false}, {"themed", true}});
    json["register"] = registrationToJson(registration);
    json["files"] = files.files.empty() ? Json::array() : manifestToJson(files)["files"];
    json["groups"] = Json::array();
    json["registry"] = Json::array();
    json["patterns"] = Json::array();
    writeOutput(out, textBytes(formatJsonDocument(json)));
    if (out != "-")
        std::cerr << "varnel: " << out << ": " << summarizeManifest(files)
                  << "; add groups, registry and patterns, then run varnel check\n";
    return kExitOk;
}

int registerProduct(const Arguments& a) {
    expectPositional(a, 1, "one manifest");
    std::string format = a.get("--format", "reg");
    if (format != "reg" && format != "json")
        throw UsageError{"--format is reg or json"};
    if (!a.has("--install-dir"))
        throw UsageError{"register needs --install-dir DIR"};
    std::optional<Manifest> loaded = loadManifest(a.positional[0]);
    if (!loaded)
        return kExitError;
    if (!loaded->registration) {
        std::cerr << printable(inputName(a.positional[0]))
                  << ": error: the manifest has no register section\n";
        return kExitError;
    }
    RegistrationValues values;
    try {
        values = registrationValues(*loaded, a.get("--install-dir"),
                                    a.get("--uninstaller", "uninst.exe"));
    } catch (const RegistrationError& e) {
        throw UsageError{e.what()};
    }
    writeOutput(a.get("-o", "-"),
                format == "reg" ? regFile(values) : textBytes(registrationJson(values)));
    return kExitOk;
}

int texts(const Arguments& a) {
    if (a.positional.size() > 1)
        throw UsageError{"texts takes at most one language"};
    if (a.positional.empty()) {
        for (const std::string& name : languageNames())
            std::cout << name << " (code page " << *languageCodePage(name) << ")\n";
        return kExitOk;
    }
    std::optional<std::string> language = canonicalLanguageName(a.positional[0]);
    if (!language)
        throw UsageError{"unknown language " + printable(a.positional[0]) +
                         "; varnel texts lists them"};
    Json json = Json::object();
    json["codePage"] = *languageCodePage(*language);
    json["language"] = *language;
    Json table = Json::object();
    const auto& defaults = *languageTexts(*language);
    for (unsigned i = 0; i < TEXT_COUNT; ++i)
        table[textKey(i)] = defaults[i];
    json["texts"] = table;
    std::cout << formatJsonDocument(json);
    return kExitOk;
}

int version(const char* argv0) {
    std::cout << "varnel " << toolVersion() << "\n"
              << "payload format: marker \"" << PAYLOAD_MARKER
              << "\" and a 32-bit offset; records with 8-byte headers: strings 0x1234, files "
                 "0x1235, groups 0x1236, registry 0x1237, patterns 0x1239, options 0x123A, "
                 "information 0x123B, end 0x7F7F\n";
    for (Scope scope : {Scope::Machine, Scope::User}) {
        std::string tried;
        std::string stub = findStub(nullptr, argv0, scope, &tried);
        std::error_code ec;
        uintmax_t size = stub.empty() ? 0 : fs::file_size(stub, ec);
        std::cout << (scope == Scope::User ? "stub per user: " : "stub: ");
        if (stub.empty() || ec)
            std::cout << "none found" << (tried.empty() ? "" : " at " + tried)
                      << " (give --stub PATH or VARNEL_STUB)\n";
        else
            std::cout << stub << " (" << size << " bytes)\n";
    }
    return kExitOk;
}

int usageError(const std::string& problem, const Command* command) {
    std::cerr << "varnel: " << problem << " (see: varnel " << (command ? command->name : "")
              << (command ? " " : "") << "--help)\n";
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usageError("no command", nullptr);
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        printUsage(std::cout);
        return kExitOk;
    }
    if (name == "--version")
        return version(argv[0]);
    const Command* command = findCommand(name);
    if (!command)
        return usageError("unknown command " + printable(name), nullptr);
    try {
        Arguments a = parseArguments(*command, argc, argv);
        if (a.help) {
            std::cout << "usage: " << command->synopsis << "\n" << command->help;
            return kExitOk;
        }
        switch (command - kCommands) {
        case 0:
            return pack(a, argv[0]);
        case 1:
            return dump(a);
        case 2:
            return check(a);
        case 3:
            return scan(a);
        case 4:
            return init(a);
        case 5:
            return registerProduct(a);
        default:
            return texts(a);
        }
    } catch (const UsageError& e) {
        return usageError(e.problem, command);
    } catch (const std::exception& e) {
        std::cerr << "varnel: " << printable(e.what()) << "\n";
        return kExitError;
    }
}
