// The udev rule for USB-serial adapters: a syntax error there makes udev skip the line silently, and the
// adapter stays root-only. Checked with udevadm verify where systemd has it, and always with a small parser
// of the keys and operators the rule uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct RuleItem
{
    std::string key;
    std::string attribute;
    std::string op;
    std::string value;
};

struct KeyRule
{
    const char* key;
    bool attribute;                // KEY{attribute} form
    std::vector<std::string> ops; // allowed operators
};

const KeyRule knownKeys[] = {
    {"ACTION", false, {"==", "!="}},        {"SUBSYSTEM", false, {"==", "!="}},
    {"SUBSYSTEMS", false, {"==", "!="}},    {"KERNEL", false, {"==", "!="}},
    {"ATTRS", true, {"==", "!="}},          {"ATTR", true, {"==", "!="}},
    {"ENV", true, {"==", "!=", "=", "+="}}, {"TAG", false, {"==", "!=", "=", "+=", "-="}},
    {"GROUP", false, {"=", ":="}},          {"MODE", false, {"=", ":="}},
};

bool isMatch(const std::string& op)
{
    return op == "==" || op == "!=";
}

// One rule line: comma-separated KEY{attr}OP"value" items, at least one match and one assignment.
bool parseRule(const std::string& line, std::vector<RuleItem>* items, std::string* error)
{
    static const std::regex item(R"re(\s*([A-Z_]+)(?:\{([A-Za-z0-9_]+)\})?(==|!=|\+=|-=|:=|=)"([^"\\]*)"\s*(,|$))re");
    items->clear();
    std::size_t pos = 0;
    while (pos < line.size()) {
        std::smatch m;
        if (!std::regex_search(line.begin() + std::ptrdiff_t(pos), line.end(), m, item,
                               std::regex_constants::match_continuous)) {
            *error = "malformed item at column " + std::to_string(pos + 1);
            return false;
        }
        const RuleItem it{m[1], m[2], m[3], m[4]};
        const KeyRule* known = nullptr;
        for (const KeyRule& k : knownKeys)
            if (it.key == k.key)
                known = &k;
        if (!known) {
            *error = "unknown key " + it.key;
            return false;
        }
        if (known->attribute == it.attribute.empty()) {
            *error = it.key + (known->attribute ? " needs" : " takes no") + " an attribute";
            return false;
        }
        if (std::find(known->ops.begin(), known->ops.end(), it.op) == known->ops.end()) {
            *error = "operator " + it.op + " not allowed for " + it.key;
            return false;
        }
        items->push_back(it);
        pos += std::size_t(m.length(0));
        if (m[5] == "," && pos == line.size()) {
            *error = "trailing comma";
            return false;
        }
    }
    const bool matches = std::any_of(items->begin(), items->end(), [](const RuleItem& i) { return isMatch(i.op); });
    const bool assigns = std::any_of(items->begin(), items->end(), [](const RuleItem& i) { return !isMatch(i.op); });
    if (!matches || !assigns) {
        *error = "a rule needs a match and an assignment";
        return false;
    }
    return true;
}

struct LineRow
{
    const char* name;
    const char* line;
    bool good;
};

class RuleParser : public testing::TestWithParam<LineRow>
{};

TEST_P(RuleParser, tellsGoodFromBadLines)
{
    std::vector<RuleItem> items;
    std::string error;
    EXPECT_EQ(parseRule(GetParam().line, &items, &error), GetParam().good) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RuleParser,
    testing::Values(LineRow{"good", R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", TAG+="uaccess")", true},
                    LineRow{"noBlanks", R"(SUBSYSTEM=="tty",ENV{ID_MM_DEVICE_IGNORE}="1")", true},
                    LineRow{"unclosedQuote", R"(SUBSYSTEM=="tty", TAG+="uaccess)", false},
                    LineRow{"singleQuotes", R"(SUBSYSTEM=='tty', TAG+="uaccess")", false},
                    LineRow{"missingComma", R"(SUBSYSTEM=="tty" TAG+="uaccess")", false},
                    LineRow{"trailingComma", R"(SUBSYSTEM=="tty", TAG+="uaccess",)", false},
                    LineRow{"unknownKey", R"(SUBSYSTEM=="tty", IDVENDOR=="0403", TAG+="uaccess")", false},
                    LineRow{"lowerCaseKey", R"(subsystem=="tty", TAG+="uaccess")", false},
                    LineRow{"assignmentToAMatchKey", R"(SUBSYSTEM="tty", TAG+="uaccess")", false},
                    LineRow{"attrsWithoutAttribute", R"(ATTRS=="0403", TAG+="uaccess")", false},
                    LineRow{"tagWithAttribute", R"(SUBSYSTEM=="tty", TAG{x}+="uaccess")", false},
                    LineRow{"matchOnly", R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403")", false},
                    LineRow{"assignmentOnly", R"(TAG+="uaccess")", false}),
    [](const testing::TestParamInfo<LineRow>& info) { return std::string(info.param.name); });

#ifndef _WIN32
// The rule as the package installs it, beside the tests' data in the source tree.
const std::string RuleFile = MORVANDELL_TEST_DATA "/../../packaging/linux/70-morvandell.rules";

std::string trimmed(const std::string& s)
{
    const std::size_t begin = s.find_first_not_of(" \t\r");
    const std::size_t end = s.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : s.substr(begin, end - begin + 1);
}

std::vector<std::string> ruleLines()
{
    std::ifstream file(RuleFile);
    std::vector<std::string> lines;
    for (std::string raw; std::getline(file, raw);) {
        const std::string line = trimmed(raw);
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    }
    return lines;
}

bool has(const std::vector<RuleItem>& items, const char* key, const char* attribute, const char* op,
         const std::string& value)
{
    return std::any_of(items.begin(), items.end(), [&](const RuleItem& i) {
        return i.key == key && i.attribute == attribute && i.op == op && i.value == value;
    });
}

TEST(UdevRule, everyLineOfTheRuleFileIsWellFormed)
{
    // uaccess is applied by 73-seat-late.rules: the tag must be set before that file runs.
    EXPECT_LT(RuleFile.substr(RuleFile.rfind('/') + 1), std::string("73"));
    const std::vector<std::string> lines = ruleLines();
    ASSERT_FALSE(lines.empty()) << RuleFile;
    for (const std::string& line : lines) {
        std::vector<RuleItem> items;
        std::string error;
        EXPECT_TRUE(parseRule(line, &items, &error)) << error << ": " << line;
    }
}

struct AdapterRow
{
    const char* name;
    const char* vendor;
    const char* product;
};

class Adapter : public testing::TestWithParam<AdapterRow>
{};

TEST_P(Adapter, isGivenToTheUserAndKeptFromModemManager)
{
    bool covered = false;
    for (const std::string& line : ruleLines()) {
        std::vector<RuleItem> items;
        std::string error;
        if (parseRule(line, &items, &error) && has(items, "SUBSYSTEM", "", "==", "tty") &&
            has(items, "ATTRS", "idVendor", "==", GetParam().vendor) &&
            has(items, "ATTRS", "idProduct", "==", GetParam().product) && has(items, "TAG", "", "+=", "uaccess") &&
            has(items, "ENV", "ID_MM_DEVICE_IGNORE", "=", "1"))
            covered = true;
    }
    EXPECT_TRUE(covered);
}

INSTANTIATE_TEST_SUITE_P(Rows, Adapter,
                         testing::Values(AdapterRow{"ftdiFt232r", "0403", "6001"},
                                         AdapterRow{"ftdiFt230x", "0403", "6015"},
                                         AdapterRow{"ch340", "1a86", "7523"}, AdapterRow{"cp210x", "10c4", "ea60"},
                                         AdapterRow{"pl2303", "067b", "2303"}),
                         [](const testing::TestParamInfo<AdapterRow>& info) { return std::string(info.param.name); });

// Runs a shell command with a time limit; its exit status and what it wrote to either stream.
int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = ::popen(("timeout 10 " + command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        *output += buffer;
    return ::pclose(pipe);
}

TEST(UdevRule, udevadmVerifyAcceptsTheRuleFile)
{
    std::string output;
    if (runCommand("udevadm verify --help", &output) != 0)
        GTEST_SKIP() << "this systemd's udevadm has no verify command";
    output.clear();
    EXPECT_EQ(runCommand("udevadm verify '" + RuleFile + "'", &output), 0) << output;
}
#endif

} // namespace
