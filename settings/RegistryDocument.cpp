#include "settings/RegistryDocument.h"

#include <algorithm>
#include <cstdio>

#include "settings/CaseInsensitive.h"

namespace {

constexpr std::string_view header = "Windows Registry Editor Version 5.00";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    return trimRight(trimLeft(s));
}

bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted token starting at s[pos] == '"'. Returns the position after the closing quote, or
// npos when it is not closed.
std::size_t parseQuoted(std::string_view s, std::size_t pos, std::string& out) {
    out.clear();
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
        } else if (s[i] == '"') {
            return i + 1;
        } else {
            out += s[i];
        }
    }
    return std::string_view::npos;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// --- UTF-8 bytes <-> UTF-16 code units, lossless for any bytes ---

std::vector<std::uint16_t> toUtf16(std::string_view s) {
    std::vector<std::uint16_t> units;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    for (std::size_t pos = 0; pos < s.size();) {
        const unsigned char lead = byte(pos);
        std::size_t length = 0;
        std::uint32_t cp = 0, minimum = 0;
        if (lead < 0x80) {
            length = 1, cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        }
        bool valid = length > 0 && pos + length <= s.size();
        for (std::size_t i = 1; valid && i < length; ++i) {
            if ((byte(pos + i) & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (byte(pos + i) & 0x3F);
        }
        if (valid && length > 1 && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            units.push_back(static_cast<std::uint16_t>(0xDC00 + lead));
            ++pos;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(cp));
        }
        pos += length;
    }
    return units;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
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

std::string fromUtf16(const std::vector<std::uint16_t>& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
        } else {
            appendUtf8(out, u); // a lone surrogate keeps its three-byte form
        }
    }
    return out;
}

// "41,00,42,00" -> bytes; false when malformed.
bool parseHexBytes(std::string_view list, std::string& bytes) {
    bytes.clear();
    list = trim(list);
    if (list.empty()) return true;
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::string_view token = trim(list.substr(0, comma));
        if (token.empty() || token.size() > 2) return false;
        int value = 0;
        for (char c : token) {
            const int d = hexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        bytes += static_cast<char>(value);
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

RegistryDocument::Value decodeData(std::string name, std::string_view data) {
    RegistryDocument::Value value;
    value.name = std::move(name);
    value.data = std::string(data);
    if (!data.empty() && data.front() == '"') {
        std::string text;
        const std::size_t end = parseQuoted(data, 0, text);
        if (end != std::string_view::npos && trim(data.substr(end)).empty()) {
            value.type = RegistryDocument::ValueType::String;
            value.data = std::move(text);
        }
    } else if (startsWithIgnoreCase(data, "dword:")) {
        const std::string_view digits = data.substr(6);
        if (!digits.empty() && digits.size() <= 8 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return hexDigit(c) >= 0; })) {
            std::uint32_t n = 0;
            for (char c : digits)
                n = n * 16 + static_cast<std::uint32_t>(hexDigit(c));
            value.type = RegistryDocument::ValueType::Dword;
            value.dword = n;
            value.data.clear();
        }
    } else if (startsWithIgnoreCase(data, "hex(1):")) {
        std::string bytes;
        if (parseHexBytes(data.substr(7), bytes) && bytes.size() % 2 == 0) {
            std::vector<std::uint16_t> units;
            for (std::size_t i = 0; i < bytes.size(); i += 2)
                units.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                                           static_cast<unsigned char>(bytes[i + 1]) << 8));
            if (!units.empty() && units.back() == 0) units.pop_back(); // the terminator
            value.type = RegistryDocument::ValueType::String;
            value.data = fromUtf16(units);
        }
    }
    return value;
}

std::string formatData(const RegistryDocument::Value& value) {
    switch (value.type) {
    case RegistryDocument::ValueType::Dword: {
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value.dword));
        return text;
    }
    case RegistryDocument::ValueType::String:
        if (value.data.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos)
            return quote(value.data);
        {
            std::string out = "hex(1):";
            auto units = toUtf16(value.data);
            units.push_back(0);
            char text[8];
            for (std::size_t i = 0; i < units.size(); ++i) {
                std::snprintf(text, sizeof text, "%s%02x,%02x", i == 0 ? "" : ",", units[i] & 0xFF,
                              units[i] >> 8);
                out += text;
            }
            return out;
        }
    case RegistryDocument::ValueType::Other:
        break;
    }
    return value.data;
}

bool isSameOrBelow(std::string_view path, std::string_view ancestor) {
    if (EqualsIgnoreCase(path, ancestor)) return true;
    // A multi-byte letter may fold to a different length, so compare at every separator.
    for (std::size_t i = path.find('\\'); i != std::string_view::npos; i = path.find('\\', i + 1))
        if (EqualsIgnoreCase(path.substr(0, i), ancestor)) return true;
    return false;
}

} // namespace

std::string RegistryDocument::NormalizePath(std::string_view path) {
    std::string out;
    while (!path.empty()) {
        const std::size_t sep = path.find('\\');
        const std::string_view segment = path.substr(0, sep);
        if (!segment.empty()) {
            if (!out.empty()) out += '\\';
            out += segment;
        }
        if (sep == std::string_view::npos) break;
        path.remove_prefix(sep + 1);
    }
    return out;
}

bool RegistryDocument::IsWritableName(std::string_view name) {
    return name.find_first_of("\r\n") == std::string_view::npos;
}

RegistryDocument::Key* RegistryDocument::findKey(std::string_view path) {
    for (auto& key : keys_)
        if (EqualsIgnoreCase(key.path, path)) return &key;
    return nullptr;
}

bool RegistryDocument::KeyExists(std::string_view path) const {
    return std::any_of(keys_.begin(), keys_.end(),
                       [&](const Key& key) { return isSameOrBelow(key.path, path); });
}

const RegistryDocument::Value* RegistryDocument::FindValue(std::string_view path,
                                                           std::string_view name) const {
    for (const auto& key : keys_) {
        if (!EqualsIgnoreCase(key.path, path)) continue;
        for (const auto& value : key.values)
            if (EqualsIgnoreCase(value.name, name)) return &value;
        return nullptr;
    }
    return nullptr;
}

RegistryDocument::Key& RegistryDocument::CreateKey(std::string_view path) {
    if (Key* key = findKey(path)) return *key;
    keys_.push_back(Key{std::string(path), {}});
    return keys_.back();
}

void RegistryDocument::SetValue(std::string_view path, Value value) {
    Key& key = CreateKey(path);
    for (auto& existing : key.values) {
        if (EqualsIgnoreCase(existing.name, value.name)) {
            existing = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

bool RegistryDocument::DeleteValue(std::string_view path, std::string_view name) {
    Key* key = findKey(path);
    if (!key) return false;
    const auto it = std::find_if(key->values.begin(), key->values.end(),
                                 [&](const Value& v) { return EqualsIgnoreCase(v.name, name); });
    if (it == key->values.end()) return false;
    key->values.erase(it);
    return true;
}

void RegistryDocument::DeleteKeyTree(std::string_view path) {
    std::erase_if(keys_, [&](const Key& key) { return isSameOrBelow(key.path, path); });
}

RegistryDocument RegistryDocument::Parse(std::string_view text) {
    // The registry editor itself exports UTF-16LE; such a file is read, and written back as UTF-8.
    std::string converted;
    if (text.substr(0, 2) == "\xFF\xFE") {
        std::vector<std::uint16_t> units;
        for (std::size_t i = 2; i + 1 < text.size(); i += 2)
            units.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(text[i]) |
                                                       static_cast<unsigned char>(text[i + 1]) << 8));
        converted = fromUtf16(units);
        text = converted;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }

    RegistryDocument doc;
    std::string current; // path of the key the value lines belong to; empty: none
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimLeft(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            current.clear();
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos) continue;
            const std::string_view inner = line.substr(1, close - 1);
            if (!inner.empty() && inner.front() == '-') {
                doc.DeleteKeyTree(NormalizePath(inner.substr(1)));
                continue;
            }
            std::string path = NormalizePath(inner);
            if (path.empty() || path.front() == '-') continue;
            current = doc.CreateKey(path).path;
            continue;
        }
        if (current.empty()) continue;

        std::size_t pos;
        if (line.front() == '@') {
            name.clear();
            pos = 1;
        } else if (line.front() == '"') {
            pos = parseQuoted(line, 0, name);
            if (pos == std::string_view::npos) continue;
        } else {
            continue;
        }
        std::string_view rest = trimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') continue;
        std::string data(trim(rest.substr(1)));
        // Long binary data is wrapped with a trailing backslash.
        if (startsWithIgnoreCase(data, "hex")) {
            while (!data.empty() && data.back() == '\\') {
                data.pop_back();
                data.resize(trimRight(data).size());
                if (i + 1 < lines.size()) data += trim(lines[++i]);
            }
        }
        if (data == "-") {
            doc.DeleteValue(current, name);
            continue;
        }
        doc.SetValue(current, decodeData(name, data));
    }
    return doc;
}

std::string RegistryDocument::Format() const {
    std::string out(header);
    out += "\n\n";
    for (const auto& key : keys_) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const auto& value : key.values) {
            out += value.name.empty() ? std::string("@") : quote(value.name);
            out += '=';
            out += formatData(value);
            out += '\n';
        }
        out += '\n';
    }
    return out;
}
