// The firmware the identified tool may receive, as the user chooses among it: one entry is a
// fixed line (opt1), two a pair of radio choices (opt2), three or more a pop-up list (opt4).
// Both front ends draw this model; the catalogue rules live here once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

enum class ChoiceControl { None, Opt1, Opt2, Opt4 };

struct FirmwareChoices {
    int count = 0;  // entries of the last parse
    ChoiceControl shown = ChoiceControl::None;
    bool labelShown = false;
    std::string opt1;
    std::string opt2Titles[2];
    int opt2Row = 0;
    std::vector<std::string> opt4Items;
    int opt4Selected = -1;
    std::vector<std::string> opt3;  // firmware ids, aligned with what is shown
    std::vector<std::string> opt5;  // descriptions, aligned with what is shown
};

// Rebuilds `choices` from the server's list text ("version:id:kind:description#...").
void parseFirmwareIds(FirmwareChoices& choices, const std::string& listText);

int getFirmwareId(const FirmwareChoices& choices);
std::string getFirmwareName(const FirmwareChoices& choices);
// The visible name of entry `index` of opt3, in whichever control shows it.
std::string choiceName(const FirmwareChoices& choices, size_t index);

// Index into opt5/opt3 of the current choice; none when nothing can be chosen.
std::optional<int> chosenIndex(const FirmwareChoices& choices);

// Leading decimal number of a text: blanks, sign, digits; 0 when there are none.
int leadingInteger(const std::string& text);
