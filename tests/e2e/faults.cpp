// The fault sweep (tests/e2e/faults.json): one product holding something of
// every kind is uninstalled first as it is, then once for every call site
// that the seam log lists, with each error that call can meet, and once for
// every allocation made to fail. Each run is a row of the printed table and
// is checked against the outcome that the rules give for its call, against a
// listing of everything outside the product, and for blocks held at exit.
#include <fstream>

#define main casesMain
#include "cases.cpp"
#undef main

namespace {

Json sweep;
std::map<std::string, std::string> itemPath; // each item's path or key, resolved

// One run of the product: its seam log, the product's items present after
// it, and what it showed.
struct Seen {
    std::vector<std::string> log;
    std::set<std::string> present;
    int exitCode = 0;
    std::string messages;
};

Seen runProduct(const std::string& options, const std::string& faults, Json c = Json::object()) {
    c.merge_patch(sweep["case"]);
    c["options"] = options;
    c["log"] = true;
    c["faults"] = faults;
    c["after"]["untouched"] = {{"product", sweep["product"]}, {"keep", "sweep"}};
    Seen seen;
    lastRun.inspect = [&](const Run& run) {
        std::ifstream in(run.log, std::ios::binary); // a Ctrl-Z is no end here
        for (std::string line; std::getline(in, line);)
            seen.log.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
        for (const auto& [name, item] : sweep["items"].items()) {
            if (problems(run, item).empty())
                seen.present.insert(name);
            const Json& p = item.begin().value();
            itemPath[name] =
                lower(item.contains("registry") ? "\t" + run.expand(p)
                                                : run.path(p.is_object() ? p["path"] : p));
        }
    };
    runCase(c, sweep["version"]);
    lastRun.inspect = nullptr;
    seen.exitCode = lastRun.exitCode;
    for (const std::string& m : lastRun.messages)
        seen.messages += (seen.messages.empty() ? "\"" : " \"") + m + "\"";
    return seen;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');)
        out.push_back(f);
    return out;
}

// A call site: a call name in the context of the product item that the log
// last named (its role), the first call of that name there; allocations
// also by their size.
struct Site {
    std::string key, line, options;
    int nth;
};

std::vector<Site> sitesOf(const std::vector<std::string>& log, const std::string& options,
                          std::set<std::string>& known) {
    std::vector<Site> out;
    std::map<std::string, int> calls;
    std::string role = "start";
    for (const std::string& line : log) {
        std::string name = fields(line)[0];
        for (const Json& r : sweep["roles"])
            if (lower(line).find(lower(r[0].get<std::string>())) != std::string::npos) {
                role = r[1];
                break;
            }
        int nth = ++calls[name];
        bool block = name == "malloc" || name == "calloc" || name == "realloc";
        bool once = std::count(sweep["once"].begin(), sweep["once"].end(), name) > 0;
        std::string key = once    ? name
                          : block ? name + "@" + role + "#" + fields(line).back()
                                  : name + "@" + role;
        if (name != "blocks" && known.insert(key).second)
            out.push_back({key, line, options, nth});
    }
    return out;
}

// The items a call names (a path or key ending in one of its texts) and the
// product's folders and keys above them.
std::set<std::string> named(const std::string& line) {
    std::set<std::string> out;
    bool registry = line.rfind("Reg", 0) == 0; // registry items are marked by a tab
    for (const std::string& f : fields(line))
        for (const auto& [name, path] : itemPath)
            if (f.size() > 2 && (path[0] == '\t') == registry &&
                (path == lower(f) ||
                 (path.size() > f.size() && path.compare(path.size() - f.size() - 1,
                                                         std::string::npos, "\\" + lower(f)) == 0)))
                for (const auto& [above, p] : itemPath)
                    if (p == path || path.rfind(p + "\\", 0) == 0)
                        out.insert(above);
    return out;
}

int failures() {
    auto* r = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int n = 0;
    for (int i = 0; i < r->total_part_count(); ++i)
        n += r->GetTestPartResult(i).failed();
    return n;
}

TEST(faults, sweep) {
    std::map<std::string, Seen> clean;
    std::set<std::string> known;
    std::vector<Site> sites;
    for (std::string options : {"/S", "/Q"}) {
        const Json& rule = sweep["clean"][options];
        clean[options] = runProduct(options, "", rule.value("case", Json::object()));
        EXPECT_EQ(clean[options].present, rule["present"].get<std::set<std::string>>()) << options;
        auto more = sitesOf(clean[options].log, options, known);
        sites.insert(sites.end(), more.begin(), more.end());
    }
    std::map<std::string, Json> rules; // keys given together share their rule
    for (const auto& [keys, rule] : sweep["expect"].items()) {
        std::istringstream in(keys);
        for (std::string key; in >> key;)
            rules[key] = rule;
    }
    printf("%-34s %-7s %4s  %-30s %-40s %s\n", "call@where#size", "error", "exit", "message",
           "stayed (+) or went (-) unlike a clean run", "verdict");
    int wrong = 0;
    const char* only = getenv("VARNEL_SWEEP_ONLY"); // a part of the sites' keys
    for (const Site& site : sites) {
        if (only && site.key.find(only) == std::string::npos)
            continue;
        std::string name = site.key.substr(0, site.key.find('@'));
        std::string where = site.key.substr(0, site.key.find('#'));
        const Json& rule = rules.count(site.key) ? rules[site.key]
                           : rules.count(where)  ? rules[where]
                           : rules.count(name)   ? rules[name]
                                                 : rules["*"];
        const Seen& base = clean[site.options];
        std::set<std::string> expected, diff;
        const Json& effect = rule["effect"];
        if (effect == "named") { // of what a clean run removes
            for (const std::string& item : named(site.line))
                if (!base.present.count(item))
                    expected.insert(item);
        } else if (effect != "none") {
            expected = sweep["effects"][effect.get<std::string>()].get<std::set<std::string>>();
        }
        Json c = {{"after", {{"exitCode", rule.value("exit", 0)}}}};
        if (rule.contains("message"))
            c["answers"] = {{{"message", rule["message"]}, {"press", "OK"}}};
        // After /Q, the batch file's work is waited for as far as it is to go.
        for (const char* item : {"exe", "batch"})
            if (site.options == "/Q")
                c["after"]["wait"] = 20000,
                c["after"][base.present.count(item) != expected.count(item) ? "exists" : "gone"]
                    .push_back(sweep["items"][item]["exists"]);
        for (const std::string& error : rule["errors"]) {
            // A failed allocation is retried once: the item is given twice,
            // the second copy failing the retry.
            std::string item = name + "#" + std::to_string(site.nth) + "!" +
                               std::to_string(sweep["errors"][error].get<int>());
            bool block = name.find("alloc") != std::string::npos;
            int before = failures();
            Seen seen = runProduct(site.options, block ? item + "|" + item : item, c);
            std::string stayed;
            for (const auto& [item, j] : sweep["items"].items())
                if (base.present.count(item) != seen.present.count(item))
                    diff.insert(item), stayed += (seen.present.count(item) ? " +" : " -") + item;
            auto held = std::find_if(seen.log.begin(), seen.log.end(),
                                     [](auto& l) { return l.rfind("blocks\t", 0) == 0; });
            std::string what = site.key + " failing with " + error + ": " + site.line;
            EXPECT_EQ(diff, expected) << what;
            EXPECT_TRUE(held != seen.log.end() && *held == "blocks\t0")
                << what << "; "
                << (held == seen.log.end() ? "no count of blocks after " + seen.log.back() : *held);
            bool ok = failures() == before;
            wrong += !ok;
            printf("%-34s %-7s %4d  %-30.30s %-40s %s\n", site.key.c_str(), error.c_str(),
                   seen.exitCode, seen.messages.c_str(), stayed.c_str(), ok ? "ok" : "WRONG");
            fflush(stdout);
            diff.clear();
        }
    }
    printf("%zu call sites, %d outcomes wrong\n", sites.size(), wrong);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bed::registerFixtures(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).find("faults.json") != std::string::npos)
            sweep = Json::parse(varnel::readFileBytes(argv[i]), nullptr, true, true);
    return RUN_ALL_TESTS();
}
