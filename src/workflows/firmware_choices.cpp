#include "workflows/firmware_choices.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <unordered_map>

#include "core/byte_string.h"

namespace {

// Where each '#' and ':' stands, so that every field of a list of thousands of entries is
// found without walking the text from its start again.
class FieldIndex {
  public:
    explicit FieldIndex(std::string_view text) : text_(text) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '#') hashes_.push_back(i);
            if (text[i] == ':') colons_.push_back(i);
        }
    }

    // As the field rule reads it: the bytes after the n-th delimiter up to the next
    // terminator; empty when either is missing.
    std::string field(char delimiter, char terminator, int n) const {
        const std::vector<size_t>& starts = positions(delimiter);
        if (n <= 0 || static_cast<size_t>(n) > starts.size()) return "";
        const size_t from = starts[static_cast<size_t>(n) - 1] + 1;
        const std::vector<size_t>& ends = positions(terminator);
        auto end = std::lower_bound(ends.begin(), ends.end(), from);
        if (end == ends.end()) return "";
        return std::string(text_.substr(from, *end - from));
    }

  private:
    const std::vector<size_t>& positions(char c) const { return c == '#' ? hashes_ : colons_; }

    std::string_view text_;
    std::vector<size_t> hashes_;
    std::vector<size_t> colons_;
};

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

void parseFirmwareIds(FirmwareChoices& c, const std::string& listText) {
    const std::string text = "#" + listText;
    ByteStringPtr work = makeByteString(text);
    ByteStringPtr hash(ByteString_fromText("#"));
    int entries = ByteString_countOccurrences(hash.get(), work.get()) - 1;
    if (entries < 0) entries = 0;

    const FieldIndex fields(text);
    std::vector<Entry> list;
    list.reserve(static_cast<size_t>(entries));
    for (int i = 1; i <= entries; ++i) {
        list.push_back({fields.field('#', ':', i), fields.field(':', ':', 3 * i - 2),
                        fields.field(':', ':', 3 * i - 1), fields.field(':', '#', 3 * i)});
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
            c.opt4Items.clear();
            std::unordered_map<std::string, size_t> placed;
            bool collided = false;
            for (const Entry& e : list) {
                std::string title = e.name(withId);
                auto [at, fresh] = placed.try_emplace(title, c.opt4Items.size());
                if (fresh) {
                    c.opt4Items.push_back(std::move(title));
                    append(e);
                } else {
                    // The pop-up holds one item per title: the later entry takes the
                    // earlier one's place in every list, so a position means one entry.
                    c.opt3[at->second] = e.id;
                    c.opt5[at->second] = e.description;
                    collided = true;
                }
            }
            c.opt4Selected = c.opt4Items.empty() ? -1 : 0;
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
