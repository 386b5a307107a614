#include "panel/customisation.h"

#include "panel/text_file.h"
#include "platform/common/paths.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace kvr::panel {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A cursor over the file text with the two ways of reading an item.
class ItemReader {
public:
    explicit ItemReader(std::string_view text) : text_(text) {}

    [[nodiscard]] bool atEnd() const { return at_ >= text_.size(); }

    // One field: up to a comma or the line end (consumed); quoted fields keep their blanks.
    std::string field() {
        while (!atEnd() && isBlank(text_[at_]))
            ++at_;
        std::string value;
        if (!atEnd() && text_[at_] == '"') {
            ++at_;
            while (!atEnd() && text_[at_] != '"' && !lineEnd())
                value += text_[at_++];
            if (!atEnd() && text_[at_] == '"') ++at_;
            // What stands between the closing quote and the delimiter is not part of it.
            while (!atEnd() && text_[at_] != ',' && !lineEnd())
                ++at_;
        } else {
            while (!atEnd() && text_[at_] != ',' && !lineEnd())
                value += text_[at_++];
            while (!value.empty() && isBlank(value.back()))
                value.pop_back();
        }
        consumeDelimiter();
        return value;
    }

    // The rest of the current line, whole.
    std::string line() {
        std::string value;
        while (!atEnd() && !lineEnd())
            value += text_[at_++];
        consumeLineEnd();
        return value;
    }

private:
    [[nodiscard]] bool lineEnd() const { return text_[at_] == '\n' || text_[at_] == '\r'; }
    void consumeLineEnd() {
        if (atEnd()) return;
        if (text_[at_] == '\r') {
            ++at_;
            if (!atEnd() && text_[at_] == '\n') ++at_;
        } else if (text_[at_] == '\n') {
            ++at_;
        }
    }
    void consumeDelimiter() {
        if (atEnd()) return;
        if (text_[at_] == ',')
            ++at_;
        else
            consumeLineEnd();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::string_view digits = text;
    while (!digits.empty() && isBlank(digits.front()))
        digits.remove_prefix(1);
    while (!digits.empty() && isBlank(digits.back()))
        digits.remove_suffix(1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::nullopt;
    return value;
}

int itemCount(CustomisationFormat format) {
    switch (format) {
    case CustomisationFormat::None:
        return 0;
    case CustomisationFormat::Format32:
        return kItemsFormat32;
    case CustomisationFormat::Format3203:
        return kItemsFormat3203;
    }
    return 0;
}

const char* kindName(ItemKind kind) {
    switch (kind) {
    case ItemKind::Flag:
    case ItemKind::ByteFlag:
    case ItemKind::LineFlag:
        return "a flag (0 or 1)";
    case ItemKind::Number:
        return "a whole number";
    default:
        return "a text";
    }
}

} // namespace

ItemKind itemKind(int item) {
    // Flags in front of a caption: "enabled, caption" pairs and the slider groups.
    static constexpr int kFlags[] = {1,  2,  3,  4,  5,  33,  36,  41,  43, 45, 47,
                                     49, 51, 53, 55, 61, 64,  68,  72,  76, 79, 82,
                                     85, 89, 91, 94, 98, 102, 106, 123, 132};
    static constexpr int kNumbers[] = {20, 21, 22, 23, 25, 26, 27, 28, 31, 32};
    if (item == 6 || item == 114) return ItemKind::ByteFlag;
    for (const int n : kFlags)
        if (n == item) return ItemKind::Flag;
    for (const int n : kNumbers)
        if (n == item) return ItemKind::Number;
    if (item == 29 || item == 30 || (item >= 110 && item <= 112) || (item >= 115 && item <= 120))
        return ItemKind::Ignored;
    if (item == 90 || item == 92 || (item >= 126 && item <= 131) || (item >= 133 && item <= 135) ||
        item >= 137)
        return ItemKind::Line;
    if (item == 136) return ItemKind::LineFlag;
    return ItemKind::Text;
}

std::optional<std::pair<std::filesystem::path, CustomisationFormat>> Customisation::findFile() {
    std::error_code ec;
    for (const auto& [name, format] :
         {std::pair{kCustomisationFile3203, CustomisationFormat::Format3203},
          std::pair{kCustomisationFile32, CustomisationFormat::Format32}}) {
        const auto path = paths::findConfigFile(name);
        if (std::filesystem::is_regular_file(path, ec)) return std::pair{path, format};
    }
    return std::nullopt;
}

Customisation Customisation::parse(std::string_view contents, CustomisationFormat format,
                                   std::string_view fileName, std::string* warning) {
    Customisation result;
    result.format_ = format;
    const std::string text = toUtf8(contents);
    ItemReader reader(text);
    const int count = itemCount(format);
    for (int n = 1; n <= count; ++n) {
        const ItemKind kind = itemKind(n);
        if (reader.atEnd()) {
            if (warning) {
                char line[160];
                std::snprintf(line, sizeof line,
                              "%.*s: item %d: the file ends here (format %d has %d items); "
                              "design values kept from this item on",
                              static_cast<int>(fileName.size()), fileName.data(), n,
                              static_cast<int>(format), count);
                *warning = line;
            }
            return result;
        }
        CustomisationItem item;
        item.text =
            (kind == ItemKind::Line || kind == ItemKind::LineFlag) ? reader.line() : reader.field();
        bool good = true;
        if (kind == ItemKind::Flag || kind == ItemKind::ByteFlag || kind == ItemKind::LineFlag ||
            kind == ItemKind::Number) {
            const auto value = wholeNumber(item.text);
            good = value.has_value();
            if (good && kind == ItemKind::ByteFlag) good = *value == 0 || *value == 1;
            if (good && kind == ItemKind::Number) good = *value >= INT32_MIN && *value <= INT32_MAX;
            if (good) {
                item.number = *value;
                item.flag = *value != 0;
            }
        }
        if (!good) {
            if (warning) {
                char line[200];
                std::snprintf(line, sizeof line,
                              "%.*s: item %d: \"%.40s\" is not %s; design values kept from "
                              "this item on",
                              static_cast<int>(fileName.size()), fileName.data(), n,
                              item.text.c_str(), kindName(kind));
                *warning = line;
            }
            return result;
        }
        result.items_.push_back(std::move(item));
    }
    return result;
}

Customisation Customisation::read(const std::filesystem::path& path, CustomisationFormat format,
                                  std::string* warning) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string contents{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    std::string problem;
    Customisation result = parse(contents, format, path.filename().string(), &problem);
    if (!problem.empty()) {
        if (warning)
            *warning = problem;
        else
            std::fprintf(stderr, "tactivo: %s\n", problem.c_str());
    }
    return result;
}

Customisation Customisation::load() {
    const auto file = findFile();
    return file ? read(file->first, file->second) : Customisation();
}

const CustomisationItem* Customisation::item(int number) const {
    if (number < 1 || number > itemsRead()) return nullptr;
    return &items_[static_cast<std::size_t>(number - 1)];
}

std::optional<bool> Customisation::flag(int number) const {
    const auto* it = item(number);
    if (!it) return std::nullopt;
    return it->flag;
}

std::optional<std::string> Customisation::text(int number) const {
    const auto* it = item(number);
    if (!it) return std::nullopt;
    return it->text;
}

std::optional<std::int64_t> Customisation::number(int number) const {
    const auto* it = item(number);
    if (!it) return std::nullopt;
    return it->number;
}

std::array<char, 6> Customisation::hiddenKeys() const {
    std::array<char, 6> keys = kBuiltinHiddenKeys;
    for (int k = 0; k < 6; ++k) {
        const auto* it = item(13 + k);
        if (!it) continue;
        keys[static_cast<std::size_t>(k)] =
            it->text.empty()
                ? '\0'
                : static_cast<char>(std::toupper(static_cast<unsigned char>(it->text.front())));
    }
    return keys;
}

std::vector<HiddenKeyAction> hiddenKeyActions(char key, const std::array<char, 6>& keys,
                                              bool active) {
    std::vector<HiddenKeyAction> actions;
    if (!active || key == '\0') return actions;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
    // Checked in this order: key 6, 5, 1, 2, 3, 4, then the lock key.
    static constexpr std::array<std::pair<int, HiddenKeyAction>, 6> kOrder = {{
        {6, HiddenKeyAction::UnlockAdvance},
        {5, HiddenKeyAction::UnlockCalibration},
        {1, HiddenKeyAction::UnlockScaleOffset},
        {2, HiddenKeyAction::UnlockSettings},
        {3, HiddenKeyAction::UnlockParameter},
        {4, HiddenKeyAction::UnlockTools},
    }};
    for (const auto& [number, action] : kOrder)
        if (keys[static_cast<std::size_t>(number - 1)] == upper) actions.push_back(action);
    if (upper == kLockKey) actions.push_back(HiddenKeyAction::Lock);
    return actions;
}

} // namespace kvr::panel
