#pragma once
// The text of one profile (INI) file, with the rules of the system's profile-file functions:
//
// - A line whose first non-blank character is '[' and that holds a ']' starts a section; the
//   name runs to the last ']' and is trimmed. Any other line with '=' is an entry: the key is
//   the text before the first '=' and the value the text after it, both trimmed of blanks.
//   Lines starting with ';' are comments; lines before the first section belong to no section.
// - Sections and keys compare case-insensitively. Values are raw: quotes stay part of them.
// - When a section name appears more than once, the first one is the section: reads, key lists
//   and writes use it, later ones are kept in the file untouched. The same holds for a key that
//   appears twice in a section.
// - Deleting removes every copy, so a deleted key or section never reappears from a duplicate.
//
// Lines are kept as they were except the ones a change touches, so comments and spacing of a
// hand-edited file survive. Reading accepts LF and CR LF files (and a UTF-8 byte order mark,
// kept); writing uses CR LF.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileDocument {
public:
    static ProfileDocument Parse(std::string_view text);
    std::string Format() const;

    // The value, trimmed; nothing when the section or key is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    bool SectionExists(std::string_view section) const;
    // Names as spelled in the file, each once, in file order.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Sets a key, adding it at the end of its section, or the section at the end of the file.
    // Raises std::invalid_argument for what the format cannot hold: an empty section or key, a
    // line break anywhere, a key with '=' or starting with '[' or ';'.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);
    // Return whether anything was removed.
    bool DeleteKey(std::string_view section, std::string_view key);
    bool EraseSection(std::string_view section);

    bool operator==(const ProfileDocument&) const = default;

private:
    enum class LineKind { Blank, Section, Entry, Other };
    struct Line {
        std::string text;
        LineKind kind = LineKind::Other;
        std::string name;  // section or key, trimmed
        std::string value; // entries: trimmed value
        bool operator==(const Line&) const = default;
    };
    static Line classify(std::string text);
    // [begin, end) of the lines of the first section called `name`; begin is its header.
    std::optional<std::pair<std::size_t, std::size_t>> findSection(std::string_view name) const;
    std::size_t sectionEnd(std::size_t header) const;

    std::vector<Line> lines_;
    bool byteOrderMark_ = false;
};
