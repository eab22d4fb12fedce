// The fault sweep (tests/e2e/faults.json): one product holding something of
// every kind is uninstalled as it is, then once for every call site that the
// seam log lists, with each error that call can meet, and once for every
// allocation made to fail. Each run is a row of the printed table, checked
// against the outcome that the rules give for its call, against a listing of
// everything outside the product, and for blocks held at exit.
#include <fstream>

#define main casesMain
#include "cases.cpp"
#undef main

namespace {

Json sweep;
std::map<std::string, std::string> itemPath; // each item's path or key, resolved

// One run of the product with `faults`: its seam log and the items present.
struct Seen {
    std::vector<std::string> log;
    std::set<std::string> present;
};

Seen runProduct(const std::string& options, const std::string& faults, Json c) {
    c.merge_patch(sweep["case"]);
    c.update({{"options", options}, {"log", true}, {"faults", faults}});
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
    return seen;
}

// A call site: a call name where the log last named a product item of some
// role (allocations also by their size), first called there as the Nth call
// of that name; or a call name alone for the calls listed as "once".
struct Site {
    std::string key, line, options;
    int nth;
};

void addSites(const std::vector<std::string>& log, const std::string& options,
              std::vector<Site>& sites) {
    std::map<std::string, int> calls;
    std::string role = "start";
    for (const std::string& line : log) {
        std::string name = fields(line)[0], low = lower(line + "\t");
        for (const Json& r : sweep["roles"])
            if (low.find(lower(r[0])) != low.npos) {
                role = r[1];
                break;
            }
        int nth = ++calls[name];
        std::string key = std::count(sweep["once"].begin(), sweep["once"].end(), name) ? name
                          : name.find("alloc") != name.npos
                              ? name + "@" + role + "#" + fields(line).back()
                              : name + "@" + role;
        if (name != "blocks" &&
            std::none_of(sites.begin(), sites.end(), [&](const Site& s) { return s.key == key; }))
            sites.push_back({key, line, options, nth});
    }
}

// The items a call names (a path or key ending in one of its texts) and the
// product's folders and keys above them.
std::set<std::string> named(const std::string& line) {
    std::set<std::string> out;
    bool registry = line.rfind("Reg", 0) == 0; // registry items are marked by a tab
    for (std::string f : fields(line))
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

int failures() {
    auto* r = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int n = 0;
    for (int i = 0; i < r->total_part_count(); ++i)
        n += r->GetTestPartResult(i).failed();
    return n;
}

TEST(faults, sweep) {
    std::map<std::string, Seen> clean;
    std::vector<Site> sites;
    for (std::string options : {"/S", "/Q"}) {
        const Json& rule = sweep["clean"][options];
        clean[options] = runProduct(options, "", rule.value("case", Json::object()));
        EXPECT_EQ(clean[options].present, rule["present"].get<std::set<std::string>>()) << options;
        addSites(clean[options].log, options, sites);
    }
    std::map<std::string, Json> rules; // keys given together share their rule
    for (const auto& [keys, rule] : sweep["expect"].items()) {
        std::istringstream in(keys);
        for (std::string key; in >> key;)
            rules[key] = rule;
    }
    printf("%-34s %-7s %4s  %-30s %-40s %s\n", "call@where#size", "error", "exit", "message",
           "stayed (+) or went (-) unlike a clean run", "verdict");
    int wrong = 0, runs = 0;
    const char* only = getenv("VARNEL_SWEEP_ONLY"); // a part of the sites' keys
    for (const Site& site : sites) {
        std::string name = site.key.substr(0, site.key.find('@'));
        std::string where = site.key.substr(0, site.key.find('#'));
        const Json& rule = rules.count(site.key) ? rules[site.key]
                           : rules.count(where)  ? rules[where]
                           : rules.count(name)   ? rules[name]
                                                 : rules["*"];
        const Seen& base = clean[site.options];
        std::set<std::string> expected;
        if (rule["effect"] != "named")
            expected = sweep["effects"].value(rule["effect"], Json::array());
        else // what a clean run removes of it
            for (const std::string& item : named(site.line))
                if (!base.present.count(item))
                    expected.insert(item);
        Json c = {{"after", {{"exitCode", rule.value("exit", 0)}}}};
        if (rule.contains("message"))
            c["answers"] = {{{"message", rule["message"]}, {"press", "OK"}}};
        for (const char* item : {"exe", "batch"}) // after /Q, the batch file's work
            if (site.options == "/Q")
                c["after"]["wait"] = 20000,
                c["after"][base.present.count(item) != expected.count(item) ? "exists" : "gone"]
                    .push_back(sweep["items"][item]["exists"]);
        // The reader's sites behave the same in every kind of bed: one runs them.
        char kind[16] = "win32";
        GetEnvironmentVariableA("VARNEL_BED_KIND", kind, sizeof(kind));
        for (const std::string& error : rule["errors"]) {
            if ((only && site.key.find(only) == std::string::npos) ||
                (std::string(kind) != "win32" && sweep["win32Only"].contains(where)))
                continue;
            // A failed allocation is retried once: the second item fails the retry.
            std::string item = name + "#" + std::to_string(site.nth) + "!" +
                               std::to_string(sweep["errors"][error].get<int>());
            int before = failures();
            Seen seen = runProduct(site.options,
                                   item + (name.find("alloc") != name.npos ? "|" + item : ""), c);
            std::set<std::string> diff;
            std::string stayed, shown;
            for (const auto& [item, j] : sweep["items"].items())
                if (base.present.count(item) != seen.present.count(item))
                    diff.insert(item), stayed += (seen.present.count(item) ? " +" : " -") + item;
            for (const std::string& m : lastRun.messages)
                shown += "\"" + m + "\" ";
            auto held = std::find_if(seen.log.begin(), seen.log.end(),
                                     [](auto& l) { return l.rfind("blocks\t", 0) == 0; });
            std::string what = site.key + " failing with " + error + ": " + site.line;
            EXPECT_EQ(diff, expected) << what;
            EXPECT_TRUE(held != seen.log.end() && *held == "blocks\t0")
                << what << "; " << (held == seen.log.end() ? "no count of blocks" : *held);
            wrong += failures() != before, ++runs;
            printf("%-34s %-7s %4d  %-30.30s %-40s %s\n", site.key.c_str(), error.c_str(),
                   lastRun.exitCode, shown.c_str(), stayed.c_str(),
                   failures() != before ? "WRONG" : "ok");
            fflush(stdout);
        }
    }
    printf("%zu call sites, %d runs, %d outcomes wrong\n", sites.size(), runs, wrong);
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
