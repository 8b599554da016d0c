#include "guest/case_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "guest/guest_process.h"

namespace {

std::string letters(const std::string& text) {
    std::string kept;
    for (unsigned char c : text) {
        if (std::isalnum(c)) kept += static_cast<char>(std::tolower(c));
    }
    return kept;
}

std::string cell(const std::string& text, int width) {
    std::string flat = text;
    std::ranges::replace(flat, '\n', ' ');
    if (static_cast<int>(flat.size()) > width) flat.resize(static_cast<size_t>(width));
    flat.resize(static_cast<size_t>(width), ' ');
    return flat;
}

void emit(CaseTable& table, const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    std::ofstream(table.path, std::ios::app) << line << '\n';
}

std::string line(const CaseTable& table, const std::string& name, const std::string& happened,
                 const std::string& expected, const std::string& verdict,
                 const std::string& seconds) {
    char right[32];
    std::snprintf(right, sizeof right, " | %-7s | %5s", verdict.c_str(), seconds.c_str());
    return cell(name, table.widths[0]) + " | " + cell(happened, table.widths[1]) + " | " +
           cell(expected, table.widths[2]) + right;
}

}  // namespace

CaseSelection CaseSelection_parse(const std::vector<std::string>& arguments) {
    CaseSelection selection;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--short") {
            selection.shortForm = true;
        } else if ((a == "--only" || a == "--cli" || a == "--plant") && !hasValue) {
            selection.error = a + " needs a value";
        } else if (a == "--only") {
            selection.only.push_back(arguments[++i]);
            if (letters(selection.only.back()).empty()) {
                selection.error = "--only '" + selection.only.back() + "' names no case";
            }
        } else if (a == "--cli") {
            selection.cli = arguments[++i];
        } else if (a == "--plant") {
            selection.plants.push_back(arguments[++i]);
        } else if (!a.empty()) {
            selection.error = "unknown argument " + a;
        }
    }
    return selection;
}

bool CaseSelection_planted(const CaseSelection& selection, const std::string& plant) {
    return std::ranges::find(selection.plants, plant) != selection.plants.end();
}

bool CaseSelection_wants(const CaseSelection& selection, const std::string& fullName,
                         bool inShortForm) {
    if (selection.shortForm && !inShortForm) return false;
    if (selection.only.empty()) return true;
    const std::string name = letters(fullName);
    return std::ranges::any_of(selection.only, [&](const std::string& text) {
        return name.find(letters(text)) != std::string::npos;
    });
}

void CaseTable_header(CaseTable& table) {
    std::ofstream(table.path, std::ios::trunc);
    emit(table, line(table, "case", "what happened", "expected", "verdict", "s"));
}

bool CaseTable_row(CaseTable& table, const std::string& name, const std::string& happened,
                   const std::string& expected, bool ok, double seconds) {
    char s[16];
    std::snprintf(s, sizeof s, "%.1f", seconds);
    emit(table, line(table, name, happened, expected, ok ? "ok" : "MISS", seconds < 0 ? "-" : s));
    if (!ok) {
        ++table.misses;
        ADD_FAILURE() << name << ": " << happened << " (expected " << expected << ")";
    }
    return ok;
}

void CaseTable_shown(CaseTable& table, const std::string& name, const std::string& happened) {
    emit(table, line(table, name, happened, "(shown)", "-", "-"));
}

int CaseProgram_run(int argc, char** argv, const CaseSelection& selection,
                    const std::vector<std::string>& shortForm, const std::string& failureFile) {
    ::testing::InitGoogleTest(&argc, argv);
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "%s\n", why.c_str());
        File_write(failureFile, why + "\n");
        return 2;
    };
    if (!selection.error.empty()) return fail(selection.error);
    // The selection by the case names the table shows, not by gtest's own filter syntax.
    std::string filter;
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const std::string full = std::string(suite.name()) + "." + suite.GetTestInfo(t)->name();
            const bool isShort = std::ranges::find(shortForm, full) != shortForm.end();
            if (CaseSelection_wants(selection, full, isShort)) {
                filter += (filter.empty() ? "" : ":") + full;
            }
        }
    }
    if (filter.empty()) {
        std::string named;
        for (const std::string& text : selection.only) named += " --only '" + text + "'";
        return fail("no case matches" + (named.empty() ? std::string(" the short form") : named));
    }
    if (selection.shortForm || !selection.only.empty()) GTEST_FLAG_SET(filter, filter);
    GTEST_FLAG_SET(brief, true);  // the table is the report; gtest adds only what failed
    return RUN_ALL_TESTS() == 0 ? 0 : 1;
}
