#include "workflows/firmware_choices.h"

#include <algorithm>
#include <climits>

#include "core/byte_string.h"

namespace {

std::string field(const ByteString* text, const char* delimiter, const char* terminator,
                  int32_t n) {
    ByteStringPtr d(ByteString_fromText(delimiter));
    ByteStringPtr t(ByteString_fromText(terminator));
    ByteStringPtr f(ByteString_field(text, d.get(), t.get(), n));
    return ByteString_str(f.get());
}

std::string kindSuffix(const std::string& kind) {
    if (kind == "CURRENT") return " (Release)";
    if (kind == "BETA") return " (Beta)";
    if (kind == "SPECIAL") return " (Special)";
    if (kind == "CUSTOM_R") return " (Custom)";
    return "";
}

struct Entry {
    std::string version, id, kind, description;
    std::string name(bool withId) const {
        return (withId ? id + "-" : std::string()) + version + kindSuffix(kind);
    }
};

}  // namespace

size_t FirmwareChoices::opt4AddItem(const std::string& title) {
    auto it = std::find(opt4Items.begin(), opt4Items.end(), title);
    size_t index = static_cast<size_t>(it - opt4Items.begin());
    if (it != opt4Items.end()) {
        *it = title;
    } else {
        opt4Items.push_back(title);
    }
    if (opt4Selected < 0 || opt4Selected >= static_cast<int>(opt4Items.size())) opt4Selected = 0;
    return index;
}

void FirmwareChoices::opt4RemoveAll() {
    opt4Items.clear();
    opt4Selected = -1;
}

void parseFirmwareIds(FirmwareChoices& c, const std::string& listText) {
    ByteStringPtr work = makeByteString("#" + listText);
    ByteStringPtr hash(ByteString_fromText("#"));
    int entries = ByteString_countOccurrences(hash.get(), work.get()) - 1;
    if (entries < 0) entries = 0;

    std::vector<Entry> list;
    for (int i = 1; i <= entries; ++i) {
        list.push_back({field(work.get(), "#", ":", i), field(work.get(), ":", ":", 3 * i - 2),
                        field(work.get(), ":", ":", 3 * i - 1),
                        field(work.get(), ":", "#", 3 * i)});
    }

    c.shown = ChoiceControl::None;
    c.opt3.clear();
    c.opt5.clear();
    c.labelShown = entries >= 1;

    auto append = [&](const Entry& e) {
        c.opt3.push_back(e.id);
        c.opt5.push_back(e.description);
    };
    if (entries == 2) {
        c.shown = ChoiceControl::Opt2;
        for (int i = 0; i < 2; ++i) {
            append(list[i]);
            c.opt2Titles[i] = list[i].name(false);
        }
        c.opt2Row = 0;
    } else if (entries == 1) {
        c.shown = ChoiceControl::Opt1;
        append(list[0]);
        c.opt1 = list[0].name(false);
    } else if (entries >= 3) {
        for (bool withId : {false, true}) {
            c.opt3.clear();
            c.opt5.clear();
            c.opt4RemoveAll();
            bool collided = false;
            for (const Entry& e : list) {
                size_t at = c.opt4AddItem(e.name(withId));
                if (at < c.opt3.size()) {
                    // The pop-up holds one item per title: the later entry takes the
                    // earlier one's place in every list, so a position means one entry.
                    c.opt3[at] = e.id;
                    c.opt5[at] = e.description;
                    collided = true;
                } else {
                    append(e);
                }
            }
            // The id tells apart entries of one visible name, unless the server sent the
            // same id twice.
            if (!collided) break;
        }
        c.shown = ChoiceControl::Opt4;
    }
    c.count = entries;
}

std::optional<int> chosenIndex(const FirmwareChoices& c) {
    int index;
    if (c.count == 1) {
        index = 0;
    } else if (c.count == 2) {
        index = c.opt2Row;
    } else if (c.count >= 3) {
        index = c.opt4Selected;
    } else {
        return std::nullopt;
    }
    if (index < 0 || index >= static_cast<int>(c.opt3.size())) return std::nullopt;
    return index;
}

int getFirmwareId(const FirmwareChoices& c) {
    auto index = chosenIndex(c);
    return index ? leadingInteger(c.opt3[*index]) : 0;
}

std::string getFirmwareName(const FirmwareChoices& c) {
    if (c.count == 1) return c.opt1;
    if (c.count == 2) return c.opt2Titles[c.opt2Row == 0 ? 0 : 1];
    if (c.count >= 3 && c.opt4Selected >= 0 &&
        c.opt4Selected < static_cast<int>(c.opt4Items.size())) {
        return c.opt4Items[c.opt4Selected];
    }
    return "";
}

std::string choiceName(const FirmwareChoices& c, size_t index) {
    if (c.shown == ChoiceControl::Opt1) return c.opt1;
    if (c.shown == ChoiceControl::Opt2) return index < 2 ? c.opt2Titles[index] : "";
    return index < c.opt4Items.size() ? c.opt4Items[index] : "";
}

int leadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = INT_MAX;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}
