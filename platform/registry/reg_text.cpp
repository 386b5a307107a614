#include "platform/registry/reg_text.h"

#include <cstdint>
#include <cstdio>

namespace kvr::reg {
namespace {

bool isControl(unsigned char u) {
    return u < 0x20 || u == 0x7F;
}

std::string hexText(unsigned value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A name or string between quotes: \\, \" and \xHH for control characters.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (isControl(u)) {
            out += hexText(u, "\\x%02X");
            continue;
        }
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

// The UTF-16 code units of a string; a byte that is not part of a valid UTF-8 sequence becomes
// the lone surrogate U+DC00 + byte, so the reader gets it back.
std::vector<uint16_t> utf16(std::string_view s) {
    std::vector<uint16_t> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        uint32_t cp = lead, least = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            extra = 3, cp = lead & 0x07u, least = 0x10000;
        } else if (lead >= 0xE0) {
            extra = 2, cp = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xC0) {
            extra = 1, cp = lead & 0x1Fu, least = 0x80;
        }
        bool ok = lead < 0x80 || (lead >= 0xC0 && lead < 0xF8 && i + extra < s.size());
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            ok = (next & 0xC0u) == 0x80u;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (!ok || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<uint16_t>(0xDC00 + lead));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<uint16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The string of hex(1) bytes: UTF-16LE units ending in one zero unit. False for anything the
// writer cannot have made.
bool fromUtf16(const std::vector<uint8_t>& bytes, std::string& out) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
    std::vector<uint16_t> units;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        units.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
    if (units.back() != 0) return false;
    units.pop_back();
    out.clear();
    for (std::size_t i = 0; i < units.size(); ++i) {
        const uint16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00); // a byte that was not UTF-8
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return false;
        } else {
            appendUtf8(out, u);
        }
    }
    return true;
}

std::string hexString(const std::string& prefix, std::string_view data) {
    std::vector<uint16_t> units = utf16(data);
    units.push_back(0);
    std::string out = prefix + "hex(1):";
    std::size_t lineLength = out.size();
    bool first = true;
    for (const uint16_t u : units) {
        for (const unsigned byte : {u & 0xFFu, static_cast<unsigned>(u >> 8)}) {
            if (!first) {
                out += ',';
                ++lineLength;
                if (lineLength + 2 > 77) {
                    out += "\\\n  ";
                    lineLength = 2;
                }
            }
            out += hexText(byte, "%02x");
            lineLength += 2;
            first = false;
        }
    }
    return out;
}

bool hasControl(std::string_view s) {
    for (const char c : s)
        if (isControl(static_cast<unsigned char>(c))) return true;
    return false;
}

// ---- reading ----------------------------------------------------------------------------------

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted name or string at `at`; `at` ends after the closing quote.
bool readQuoted(std::string_view line, std::size_t& at, std::string& out, std::string& why) {
    if (at >= line.size() || line[at] != '"') {
        why = "a quoted name or string was expected";
        return false;
    }
    out.clear();
    for (++at; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= line.size()) break;
        const char e = line[at];
        if (e == '\\' || e == '"') {
            out += e;
        } else if (e == 'x' && at + 2 < line.size() && hexDigit(line[at + 1]) >= 0 &&
                   hexDigit(line[at + 2]) >= 0) {
            out += static_cast<char>(hexDigit(line[at + 1]) * 16 + hexDigit(line[at + 2]));
            at += 2;
        } else {
            why = std::string("unknown escape \\") + e;
            return false;
        }
    }
    why = "the closing quote is missing";
    return false;
}

bool readData(std::string_view data, Value& value, std::string& why) {
    std::size_t at = 0;
    if (data.starts_with("\"")) {
        value.type = Type::Sz;
        if (!readQuoted(data, at, value.sz, why)) return false;
        if (at != data.size()) {
            why = "text after the closing quote";
            return false;
        }
        return true;
    }
    if (data.starts_with("dword:")) {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) {
            why = "dword: needs 1 to 8 hex digits";
            return false;
        }
        value.type = Type::Dword;
        value.dword = 0;
        for (const char c : digits) {
            if (hexDigit(c) < 0) {
                why = "dword: needs 1 to 8 hex digits";
                return false;
            }
            value.dword = value.dword << 4 | static_cast<uint32_t>(hexDigit(c));
        }
        return true;
    }
    if (data.starts_with("hex(1):")) {
        std::vector<uint8_t> bytes;
        std::string_view rest = data.substr(7);
        while (!rest.empty()) {
            if (rest.size() < 2 || hexDigit(rest[0]) < 0 || hexDigit(rest[1]) < 0 ||
                (rest.size() > 2 && rest[2] != ',')) {
                why = "hex(1): needs bytes as two hex digits separated by commas";
                return false;
            }
            bytes.push_back(static_cast<uint8_t>(hexDigit(rest[0]) * 16 + hexDigit(rest[1])));
            rest.remove_prefix(rest.size() > 2 ? 3 : 2);
        }
        value.type = Type::Sz;
        if (!fromUtf16(bytes, value.sz)) {
            why = "hex(1): is not a UTF-16 string with its final zero";
            return false;
        }
        return true;
    }
    why = "the data must be \"text\", dword:HHHHHHHH or hex(1):...";
    return false;
}

bool readValue(std::string_view line, Value& value, std::string& why) {
    std::size_t at = 0;
    if (line.starts_with("@=")) {
        value.name.clear();
        at = 1;
    } else if (!readQuoted(line, at, value.name, why)) {
        return false;
    }
    if (at >= line.size() || line[at] != '=') {
        why = "'=' must follow the value's name";
        return false;
    }
    return readData(line.substr(at + 1), value, why);
}

} // namespace

std::string formatKeyLine(std::string_view canonical) {
    std::string out = "[";
    for (const char c : canonical) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (isControl(u))
            out += hexText(u, "\\x%02X");
        else
            out += c;
    }
    return out + "]";
}

bool keyPathIsAmbiguous(std::string_view canonical) {
    return hasControl(canonical);
}

std::string formatValueLine(const Value& value) {
    const std::string name = value.name.empty() ? "@" : quoted(value.name);
    if (value.type == Type::Sz && hasControl(value.sz)) return hexString(name + "=", value.sz);
    if (value.type == Type::Sz) return name + "=" + quoted(value.sz);
    return name + "=dword:" + hexText(value.dword, "%08x");
}

bool parseRegText(std::string_view text, std::vector<KeyValues>& out, ParseError& error) {
    out.clear();
    std::size_t lineNumber = 0;
    auto fail = [&](std::size_t line, std::string reason) {
        error = ParseError{line, std::move(reason)};
        out.clear();
        return false;
    };
    while (!text.empty()) {
        // One logical line: physical lines joined where one ends in '\' (hex(1) data).
        std::string line;
        const std::size_t first = lineNumber + 1;
        for (bool more = true; more && !text.empty();) {
            const std::size_t end = text.find('\n');
            std::string_view physical = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNumber;
            if (physical.ends_with("\r")) physical.remove_suffix(1);
            if (!line.empty()) {
                while (!physical.empty() && (physical.front() == ' ' || physical.front() == '\t'))
                    physical.remove_prefix(1);
            }
            // Only hex(1) data is continued: every other line ends in ']', '"' or a digit.
            more = physical.ends_with("\\");
            if (more) physical.remove_suffix(1);
            line += physical;
        }
        if (line.empty()) continue;
        if (first == 1 && line == "Windows Registry Editor Version 5.00") continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return fail(first, "a key line is [PATH]");
            KeyValues key;
            key.path = line.substr(1, line.size() - 2);
            if (const std::string why = invalidReason(key.path); !why.empty())
                return fail(first, why);
            out.push_back(std::move(key));
            continue;
        }
        if (out.empty()) return fail(first, "a value before the first [KEY] line");
        Value value;
        std::string why;
        if (!readValue(line, value, why)) return fail(first, why);
        if (why = invalidReason(out.back().path, value.name); !why.empty()) return fail(first, why);
        out.back().values.push_back(std::move(value));
    }
    return true;
}

} // namespace kvr::reg
