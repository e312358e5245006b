#pragma once
// One file of the registry store, in the registry editor's export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Kelmora\Sonavel 2016]
//   "top"=dword:00000000
//   "skin"="skins\\mxskin56.skn"
//
// Key paths carry their root name. Keys and value names compare case-insensitively. Strings are
// quoted with `\\` and `\"` escapes; a string holding a line break or NUL is written in the
// `hex(1):` form (UTF-16LE with a terminating NUL; bytes that are not UTF-8 travel as the
// code units U+DC80..U+DCFF), so every string survives a round trip. Values of other types
// (`hex:`, `hex(7):`, ...) or malformed data are kept as written and read as neither DWORD nor
// string.
//
// Parsing never fails: it is lenient the way an import is (LF or CR LF, UTF-8 or UTF-16LE with
// its byte order mark, duplicate key sections merge, a later value of the same name wins,
// `[-key]` and `"name"=-` delete, `;` lines are comments) and skips what it cannot read. Comments
// and skipped lines are not kept when the file is written again. Written files are UTF-8, LF.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class RegistryDocument {
public:
    enum class ValueType { Dword, String, Other };

    struct Value {
        std::string name; // "" is the key's default value, written `@`
        ValueType type = ValueType::Other;
        std::uint32_t dword = 0;
        std::string data; // String: the text; Other: the data as it stood after '='
        bool operator==(const Value&) const = default;
    };

    struct Key {
        std::string path; // full path, root first, segments joined by '\'
        std::vector<Value> values;
        bool operator==(const Key&) const = default;
    };

    static RegistryDocument Parse(std::string_view text);
    std::string Format() const;

    // Drops empty segments: "\Kelmora\\Sonavel 2016\" is "Kelmora\Sonavel 2016".
    static std::string NormalizePath(std::string_view path);
    // Paths and value names cannot hold line breaks: the file format has no way to write them.
    static bool IsWritableName(std::string_view name);

    // A key exists when it or one of its subkeys has a section.
    bool KeyExists(std::string_view path) const;
    const Value* FindValue(std::string_view path, std::string_view name) const;
    // Paths must be normalised and writable.
    Key& CreateKey(std::string_view path);
    void SetValue(std::string_view path, Value value);
    bool DeleteValue(std::string_view path, std::string_view name);
    void DeleteKeyTree(std::string_view path);

    const std::vector<Key>& Keys() const { return keys_; }
    bool operator==(const RegistryDocument&) const = default;

private:
    Key* findKey(std::string_view path);
    std::vector<Key> keys_;
};
