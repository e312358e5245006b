#pragma once
// The 128-byte ID3v1 tag at the end of an MP3 file (versions 1.0 and 1.1), and the genre names.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The "general exception" class of the tag: its only own message is the buffer-size one.
class EID3Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int ID3v1Size = 128;

class TID3v1Tag {
public:
    bool HasTag = false;
    bool Modified = false;
    std::string Title, Artist, Album, Year, Comment;
    int Track = 0;       // 0 = none
    bool NoTrack = true; // version 1.0 layout
    int Genre = 0;
    std::string GenreName;

    // 1 title, 2 artist, 3 year, 4 album, 5 comment; cut to the field's length.
    void SetField(int field, const std::string& text);
    void SetGenre(int number);
    void SetTrack(int number);

    void ParseTag(const uint8_t* buffer, size_t size);
    // Reads the last 128 bytes of the `size` bytes that follow the descriptor's current position.
    void LoadFromStream(int fd, int64_t size);
    void LoadFromFile(const std::string& fileName);  // raises std::system_error on file errors
    void SaveToBuffer(uint8_t* buffer, size_t size); // raises "TID3v1Tag.Save: Buffer too small"
    void SaveToStream(int fd);
    void SaveToFile(const std::string& fileName);     // replaces an existing tag or appends one
    void RemoveFromFile(const std::string& fileName); // cuts an existing tag off
};

// The 148 genre names, in number order.
const std::vector<std::string>& ID3GenreNames();
// The name for `number` from the 148-entry list, or "" outside it.
std::string ID3GenreName(int number);
// The MPEG stream's variant of the table (0..125, four spellings differ), or "" above 125.
std::string MpegGenreName(int number);
