// What the guests' case programs share: the selection of cases from the guest's arguments and
// the table of rows, one per thing a case shows, each with its verdict.
#pragma once

#include <string>
#include <vector>

// --short (the few cases of ./run test), --only TEXT (the cases whose name holds it, letters
// and digits compared without case; more than once), --cli PATH (another zarvik-cli),
// --plant NAME (a fault planted in a case's set-up, to see its row fail; more than once).
struct CaseSelection {
    bool shortForm = false;
    std::vector<std::string> only;
    std::string cli;
    std::vector<std::string> plants;
    std::string error;  // an argument that makes no sense
};

CaseSelection CaseSelection_parse(const std::vector<std::string>& arguments);
bool CaseSelection_planted(const CaseSelection& selection, const std::string& plant);
// Whether the test named `fullName` ("Suite.Name/param") is selected; `inShortForm` when it is
// one of the short form's.
bool CaseSelection_wants(const CaseSelection& selection, const std::string& fullName,
                         bool inShortForm);

// The table file, with a header once the first row comes.
struct CaseTable {
    std::string path;
    std::vector<int> widths;  // of the case, what happened and expected columns
    int misses = 0;
};

void CaseTable_header(CaseTable& table);
// Prints and keeps one row; `ok` is its verdict, and a miss also fails the running test.
bool CaseTable_row(CaseTable& table, const std::string& name, const std::string& happened,
                   const std::string& expected, bool ok, double seconds);
// A row that shows what was seen without judging it (a figure).
void CaseTable_shown(CaseTable& table, const std::string& name, const std::string& happened);

// Runs the selected tests of this program: 0 when each passed, 1 when one failed, 2 when the
// selection names no case (said in `failureFile` too, for the host to show).
int CaseProgram_run(int argc, char** argv, const CaseSelection& selection,
                    const std::vector<std::string>& shortForm, const std::string& failureFile);
