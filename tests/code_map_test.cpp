// tests/code_map_test.cpp: the code map holds: every #include "..." of a floor
// (gl, base, math, gfx, sound, iso, model, path, app, editor, capture, web) names its
// own floor or one it builds on, as CMakeLists.txt's VORTALUNE_FLOOR_DEPS_*
// lines say (the build enforces the same through each floor's include
// folder), and no two units include each other, however indirectly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Floors = std::map<std::string, std::set<std::string>>;   // floor -> floors it may include

// The floors and their dependencies from CMakeLists.txt, closed transitively.
Floors floorsFromCmake()
{
    std::ifstream in(fs::path(VORTALUNE_SOURCE_DIR) / "CMakeLists.txt");
    const std::regex line(R"(^set\(VORTALUNE_FLOOR_DEPS_(\w+)\s*([\w ]*)\))");
    Floors floors;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_search(text, m, line))
            continue;
        std::istringstream deps(m[2].str());
        std::set<std::string>& allowed = floors[m[1].str()];
        allowed.insert(m[1].str());
        for (std::string dep; deps >> dep;)
            allowed.insert(dep);
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& [floor, allowed] : floors) {
            for (const std::string& dep : std::set<std::string>(allowed))
                for (const std::string& further : floors[dep])
                    grew = allowed.insert(further).second || grew;
        }
    }
    return floors;
}

struct Include {
    std::string file;     // "iso/Mesher.cpp"
    int         line;     // 1-based
    std::string target;   // "iso/Field.h"
};

std::vector<Include> includesOf(const std::string& floor)
{
    std::vector<Include> found;
    const std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
    for (const auto& entry : fs::directory_iterator(fs::path(VORTALUNE_SOURCE_DIR) / floor)) {
        const std::string name = entry.path().filename().string();
        std::ifstream in(entry.path());
        int number = 0;
        for (std::string text; std::getline(in, text);) {
            ++number;
            std::smatch m;
            if (std::regex_search(text, m, include))
                found.push_back({ floor + "/" + name, number, m[1].str() });
        }
    }
    return found;
}

std::string floorOf(const std::string& path)
{
    const size_t slash = path.find('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A unit is a header with its source; "XLocal.h" (what X's sources share
// inside a floor) belongs to unit X.
std::string unitOf(const std::string& path)
{
    std::string unit = path.substr(0, path.rfind('.'));
    const std::string local = "Local";
    if (unit.size() > local.size() && unit.compare(unit.size() - local.size(), local.size(), local) == 0)
        unit.resize(unit.size() - local.size());
    return unit;
}

} // namespace

TEST(CodeMap, EveryIncludePointsDownAndNoUnitsIncludeEachOther)
{
    const Floors floors = floorsFromCmake();
    ASSERT_EQ(floors.size(), 12u) << "CMakeLists.txt names the twelve floors";
    std::map<std::string, std::set<std::string>> uses;   // unit -> units it includes
    size_t checked = 0;
    for (const auto& [floor, allowed] : floors) {
        for (const Include& inc : includesOf(floor)) {
            const std::string target = floorOf(inc.target);
            if (floors.count(target) == 0)
                continue;   // a header of the same folder by its bare name, or a library's
            ++checked;
            EXPECT_TRUE(allowed.count(target))
                << inc.file << ":" << inc.line << ": includes \"" << inc.target << "\", but " << floor
                << " does not build on " << target;
            if (unitOf(inc.target) != unitOf(inc.file))
                uses[unitOf(inc.file)].insert(unitOf(inc.target));
        }
    }
    EXPECT_GT(checked, 150u) << "the includes were found";

    // Circles between units, with the path that closes each one.
    std::map<std::string, int> state;   // 0 unseen, 1 on the path, 2 done
    std::vector<std::string> path;
    std::function<void(const std::string&)> visit = [&](const std::string& unit) {
        state[unit] = 1;
        path.push_back(unit);
        for (const std::string& next : uses[unit]) {
            if (state[next] == 1) {
                std::string circle;
                for (auto it = std::find(path.begin(), path.end(), next); it != path.end(); ++it)
                    circle += *it + " -> ";
                ADD_FAILURE() << "include circle: " << circle << next;
            } else if (state[next] == 0) {
                visit(next);
            }
        }
        path.pop_back();
        state[unit] = 2;
    };
    for (const auto& [unit, targets] : std::map<std::string, std::set<std::string>>(uses))
        if (state[unit] == 0)
            visit(unit);
}
