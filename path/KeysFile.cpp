// path/KeysFile.cpp: the keys file's text and its reading.
#include "path/KeysFile.h"

#include "base/SafeFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string keysPathName(const std::string& folder, int scene)
{
    return folder + "/keys_path" + std::to_string(scene) + ".txt";
}

std::string formatKeysText(const std::vector<TimedKey>& keys)
{
    std::string text = std::to_string(keys.size()) + "\n";
    char line[MAX_KEYS_LINE_BYTES + 16];
    for (const TimedKey& k : keys) {
        const int n = std::snprintf(line, sizeof line, "%.6f %f %f %f %f %f %f%s\n", k.time, k.position[0],
                                    k.position[1], k.position[2], k.angles[0], k.angles[1], k.angles[2],
                                    k.eased ? " eased" : "");
        text.append(line, size_t(std::max(n, 0)));
    }
    return text;
}

namespace {

// The fields of one line (spaces and tabs between them).
std::vector<std::string> fieldsOf(const std::string& line)
{
    std::vector<std::string> fields;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r'))
            ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r')
            ++end;
        if (end > at)
            fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

bool number(const std::string& field, double& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtod(field.c_str(), &end);
    return end && *end == '\0' && end != field.c_str() && std::isfinite(out) && std::fabs(out) <= 3.4e38;
}

// Why a line is not a key (empty when it is one).
std::string keyFromFields(const std::vector<std::string>& f, TimedKey& key)
{
    if (f.size() < 7 || f.size() > 8)
        return std::to_string(f.size()) + " fields where a key has 7 (time x y z pitch yaw roll) and maybe 'eased'";
    double v[7];
    for (int i = 0; i < 7; ++i)
        if (!number(f[size_t(i)], v[i]))
            return "'" + f[size_t(i)].substr(0, 24) + "' is not a number";
    if (f.size() == 8 && f[7] != "eased")
        return "'" + f[7].substr(0, 24) + "' where only 'eased' may follow a key";
    key.time = v[0];
    key.position = { v[1], v[2], v[3] };
    key.angles = { v[4], v[5], v[6] };
    key.eased = f.size() == 8;
    return std::string();
}

} // namespace

void parseKeysText(const std::string& text, std::vector<TimedKey>& keys, PathReadReport& report)
{
    keys.clear();
    report.keysRead = 0;
    report.countGiven = 0;
    report.line = 0;
    report.problem.clear();
    const auto problem = [&](int32_t line, const std::string& why) {
        report.line = line;
        report.problem = why;
    };

    size_t at = 0;
    int32_t line = 0;
    long long count = -1;
    while (at < text.size() && report.problem.empty()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::vector<std::string> fields = fieldsOf(text.substr(at, end - at));
        at = end + 1;
        ++line;
        if (fields.empty())
            continue;
        if (count < 0) {
            char* stop = nullptr;
            count = fields.size() == 1 ? std::strtoll(fields[0].c_str(), &stop, 10) : -1;
            if (fields.size() != 1 || !stop || *stop != '\0' || count < 0 || count > MAX_PATH_KEYS) {
                problem(line, "'" + fields[0].substr(0, 24) + "' is not a key count (0.." +
                                  std::to_string(MAX_PATH_KEYS) + ")");
                count = 0;
            }
            report.countGiven = count;
            continue;
        }
        if (static_cast<long long>(keys.size()) == count) {
            problem(line, "more data after the " + std::to_string(count) + " keys the count gives; it was not read");
            break;
        }
        TimedKey key;
        const std::string why = keyFromFields(fields, key);
        if (!why.empty()) {
            problem(line, why + "; " + std::to_string(keys.size()) + " of " + std::to_string(count) +
                              " keys were read");
        } else if (key.time < 0.0 || (!keys.empty() && !(key.time > keys.back().time))) {
            problem(line, "a key out of time order; " + std::to_string(keys.size()) + " of " +
                              std::to_string(count) + " keys were read");
        } else {
            keys.push_back(key);
        }
    }
    if (report.problem.empty() && count < 0)
        problem(1, "the file is empty: no key count");
    if (report.problem.empty() && static_cast<long long>(keys.size()) < count)
        problem(line, "the file ends early: " + std::to_string(keys.size()) + " of " + std::to_string(count) +
                          " keys were read");
    report.keysRead = int32_t(keys.size());
    report.whole = report.problem.empty();
}

bool loadKeysFile(const std::string& filename, std::vector<TimedKey>& keys, PathReadReport& report)
{
    keys.clear();
    std::string text;
    bool truncated = false;
    if (!readPathFileText(filename, MAX_KEYS_FILE_BYTES, text, truncated, report))
        return false;
    parseKeysText(text, keys, report);
    if (truncated) {
        report.problem = "larger than the limit of " + std::to_string(MAX_KEYS_FILE_BYTES) + " bytes";
        report.line = 0;
        report.whole = false;
    }
    return true;
}
