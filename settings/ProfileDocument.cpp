#include "settings/ProfileDocument.h"

#include <algorithm>
#include <stdexcept>

#include "settings/CaseInsensitive.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    s = trimLeft(s);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

void addOnce(std::vector<std::string>& names, const std::string& name) {
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& n) { return EqualsIgnoreCase(n, name); }))
        names.push_back(name);
}

} // namespace

ProfileDocument::Line ProfileDocument::classify(std::string text) {
    Line line;
    const std::string_view t = trimLeft(text);
    if (t.empty()) {
        line.kind = LineKind::Blank;
    } else if (t.front() == '[' && t.rfind(']') != std::string_view::npos) {
        line.kind = LineKind::Section;
        line.name = std::string(trim(t.substr(1, t.rfind(']') - 1)));
    } else if (t.front() != ';' && t.find('=') != std::string_view::npos) {
        const std::size_t eq = t.find('=');
        line.name = std::string(trim(t.substr(0, eq)));
        line.value = std::string(trim(t.substr(eq + 1)));
        line.kind = line.name.empty() ? LineKind::Other : LineKind::Entry;
    }
    line.text = std::move(text);
    return line;
}

ProfileDocument ProfileDocument::Parse(std::string_view text) {
    ProfileDocument doc;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        doc.byteOrderMark_ = true;
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        doc.lines_.push_back(classify(std::string(line)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return doc;
}

std::string ProfileDocument::Format() const {
    std::string out = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
    for (const auto& line : lines_) {
        out += line.text;
        out += "\r\n";
    }
    return out;
}

std::size_t ProfileDocument::sectionEnd(std::size_t header) const {
    std::size_t end = header + 1;
    while (end < lines_.size() && lines_[end].kind != LineKind::Section)
        ++end;
    return end;
}

std::optional<std::pair<std::size_t, std::size_t>> ProfileDocument::findSection(std::string_view name) const {
    name = trim(name);
    if (name.empty()) return std::nullopt;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == LineKind::Section && EqualsIgnoreCase(lines_[i].name, name))
            return std::pair{i, sectionEnd(i)};
    return std::nullopt;
}

std::optional<std::string> ProfileDocument::Value(std::string_view section, std::string_view key) const {
    const auto range = findSection(section);
    key = trim(key);
    if (!range || key.empty()) return std::nullopt;
    for (std::size_t i = range->first + 1; i < range->second; ++i)
        if (lines_[i].kind == LineKind::Entry && EqualsIgnoreCase(lines_[i].name, key))
            return lines_[i].value;
    return std::nullopt;
}

bool ProfileDocument::SectionExists(std::string_view section) const {
    return findSection(section).has_value();
}

std::vector<std::string> ProfileDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : lines_)
        if (line.kind == LineKind::Section && !line.name.empty()) addOnce(names, line.name);
    return names;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    if (const auto range = findSection(section))
        for (std::size_t i = range->first + 1; i < range->second; ++i)
            if (lines_[i].kind == LineKind::Entry) addOnce(names, lines_[i].name);
    return names;
}

void ProfileDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    if (section.empty() || hasLineBreak(section)) throw std::invalid_argument("section name");
    if (key.empty() || hasLineBreak(key) || key.find('=') != std::string_view::npos || key.front() == '[' ||
        key.front() == ';')
        throw std::invalid_argument("key name");
    if (hasLineBreak(value)) throw std::invalid_argument("value");

    const auto range = findSection(section);
    if (range) {
        for (std::size_t i = range->first + 1; i < range->second; ++i) {
            Line& line = lines_[i];
            if (line.kind == LineKind::Entry && EqualsIgnoreCase(line.name, key)) {
                // The key keeps its spelling; only its value changes.
                line = classify(line.name + "=" + std::string(value));
                return;
            }
        }
        // After the section's last line, before the blank lines that separate it from the next.
        std::size_t at = range->second;
        while (at > range->first + 1 && lines_[at - 1].kind == LineKind::Blank)
            --at;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      classify(std::string(key) + "=" + std::string(value)));
        return;
    }
    if (!lines_.empty() && lines_.back().kind != LineKind::Blank) lines_.push_back(classify(""));
    lines_.push_back(classify("[" + std::string(section) + "]"));
    lines_.push_back(classify(std::string(key) + "=" + std::string(value)));
}

bool ProfileDocument::DeleteKey(std::string_view section, std::string_view key) {
    const auto range = findSection(section);
    key = trim(key);
    if (!range || key.empty()) return false;
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(range->first + 1);
    const auto last = lines_.begin() + static_cast<std::ptrdiff_t>(range->second);
    const auto kept = std::remove_if(first, last, [&](const Line& line) {
        return line.kind == LineKind::Entry && EqualsIgnoreCase(line.name, key);
    });
    if (kept == last) return false;
    lines_.erase(kept, last);
    return true;
}

bool ProfileDocument::EraseSection(std::string_view section) {
    bool erased = false;
    while (const auto range = findSection(section)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
                     lines_.begin() + static_cast<std::ptrdiff_t>(range->second));
        erased = true;
    }
    return erased;
}
