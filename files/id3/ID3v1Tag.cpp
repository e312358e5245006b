#include "files/id3/ID3v1Tag.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

const char* const GenreLiteral =
    "Blues,Classic Rock,Country,Dance,Disco,Funk,Grunge,Hip-Hop,Jazz,Metal,New Age,Oldies,Other,Pop,R&B,Rap,"
    "Reggae,Rock,Techno,Industrial,Alternative,Ska,Death "
    "Metal,Pranks,Soundtrack,Euro-Techno,Ambient,Trip-Hop,"
    "Vocal,Jazz+Funk,Fusion,Trance,Classical,Instrumental,Acid,House,Game,Sound Clip,Gospel,Noise,AlternRock,"
    "Bass,Soul,Punk,Space,Meditative,Instrumental Pop,Instrumental Rock,Ethnic,Gothic,Darkwave,"
    "Techno-Industrial,Electronic,Pop-Folk,Eurodance,Dream,Southern Rock,Comedy,Cult,Gangsta,Top 40,"
    "Christian Rap,Pop/Funk,Jungle,Native American,Cabaret,New Wave,Psychedelic,Rave,Showtunes,Trailer,Lo-Fi,"
    "Tribal,Acid Punk,Acid Jazz,Polka,Retro,Musical,Rock & Roll,Hard Rock,Folk,Folk/Rock,National Folk,Swing,"
    "Fast Fusion,Bebob,Latin,Revival,Celtic,Bluegrass,Avantgarde,Gothic Rock,Progressive Rock,"
    "Psychedelic Rock,Symphonic Rock,Slow Rock,Big Band,Chorus,Easy Listening,Acoustic,Humour,Speech,Chanson,"
    "Opera,Chamber Music,Sonata,Symphony,Booty Bass,Primus,Porn Groove,Satire,Slow Jam,Club,Tango,Samba,"
    "Folklore,Ballad,Power Ballad,Rhythmic Soul,Freestyle,Duet,Punk Rock,Drum Solo,Acapella,Euro-House,"
    "Dance Hall,Goa,Drum & Bass,Club-House,Hardcore,Terror,Indie,BritPop,Negerpunk,Polsk Punk,Beat,"
    "Christian Gangs,Heavy Metal,Black Metal,Crossover,Contemporary Ch?,Cristian Rock,Merengue,Salsa,"
    "Thrash Metal,Anime,JPop,Synthpop";

std::string readField(const uint8_t* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0)
        ++len;
    // Trailing blanks and control characters are padding, not text.
    while (len > 0 && p[len - 1] <= 0x20)
        --len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

void writeField(uint8_t* p, size_t n, const std::string& text) {
    std::memset(p, ' ', n);
    std::memcpy(p, text.data(), std::min(n, text.size()));
}

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

int64_t fileSize(int fd, const std::string& name) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(name);
    return st.st_size;
}

void readExact(int fd, uint8_t* buffer, size_t n, int64_t at, const std::string& name) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, buffer + done, n - done, at + static_cast<int64_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) fail(name);
        done += static_cast<size_t>(r);
    }
}

void writeExact(int fd, const uint8_t* buffer, size_t n, int64_t at, const std::string& name) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd, buffer + done, n - done, at + static_cast<int64_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) fail(name);
        done += static_cast<size_t>(w);
    }
}

} // namespace

const std::vector<std::string>& ID3GenreNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        std::string item;
        for (const char* p = GenreLiteral;; ++p) {
            if (*p == ',' || *p == 0) {
                list.push_back(item);
                item.clear();
                if (*p == 0) break;
            } else {
                item += *p;
            }
        }
        return list;
    }();
    return names;
}

std::string ID3GenreName(int number) {
    const auto& names = ID3GenreNames();
    return number >= 0 && number < static_cast<int>(names.size()) ? names[number] : std::string();
}

std::string MpegGenreName(int number) {
    if (number < 0 || number > 125) return {};
    switch (number) {
    case 40:
        return "Alt. Rock";
    case 67:
        return "Psychadelic";
    case 84:
        return "Fusion";
    case 123:
        return "A capella";
    default:
        return ID3GenreName(number);
    }
}

void TID3v1Tag::SetField(int field, const std::string& text) {
    std::string* target = nullptr;
    size_t limit = 0;
    switch (field) {
    case 1:
        target = &Title, limit = 30;
        break;
    case 2:
        target = &Artist, limit = 30;
        break;
    case 3:
        target = &Year, limit = 4;
        break;
    case 4:
        target = &Album, limit = 30;
        break;
    case 5:
        target = &Comment, limit = NoTrack ? 30 : 28;
        break;
    default:
        return;
    }
    const std::string cut = text.substr(0, limit);
    if (cut == *target) return;
    *target = cut;
    Modified = true;
}

void TID3v1Tag::SetGenre(int number) {
    if (number == Genre) return;
    Genre = number;
    GenreName = ID3GenreName(number);
    Modified = true;
}

void TID3v1Tag::SetTrack(int number) {
    if (number == Track) return;
    Track = number;
    NoTrack = number == 0;
    // A 1.1 tag has only 28 comment bytes.
    if (!NoTrack && Comment.size() > 28) Comment.resize(28);
    Modified = true;
}

void TID3v1Tag::ParseTag(const uint8_t* b, size_t size) {
    HasTag = false;
    Modified = false;
    if (size < ID3v1Size || std::memcmp(b, "TAG", 3) != 0) return;
    HasTag = true;
    Title = readField(b + 3, 30);
    Artist = readField(b + 33, 30);
    Album = readField(b + 63, 30);
    Year = readField(b + 93, 4);
    Comment = readField(b + 97, 30);
    if (b[125] != 0) {
        NoTrack = true;
        Track = 0;
    } else if (b[126] != 0) {
        NoTrack = false;
        Track = b[126];
    } else {
        NoTrack = true;
        Track = 0;
    }
    Genre = b[127];
    GenreName = ID3GenreName(Genre);
}

void TID3v1Tag::LoadFromStream(int fd, int64_t size) {
    if (size < ID3v1Size) {
        HasTag = false;
        return;
    }
    const int64_t here = ::lseek(fd, 0, SEEK_CUR);
    if (here < 0) fail("ID3v1 tag");
    uint8_t block[ID3v1Size];
    readExact(fd, block, ID3v1Size, here + size - ID3v1Size, "ID3v1 tag");
    ParseTag(block, ID3v1Size);
}

void TID3v1Tag::LoadFromFile(const std::string& fileName) {
    Fd f(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) fail(fileName);
    LoadFromStream(f.fd, fileSize(f.fd, fileName));
}

void TID3v1Tag::SaveToBuffer(uint8_t* b, size_t size) {
    if (size < ID3v1Size) throw EID3Error("TID3v1Tag.Save: Buffer too small");
    std::memcpy(b, "TAG", 3);
    writeField(b + 3, 30, Title);
    writeField(b + 33, 30, Artist);
    writeField(b + 63, 30, Album);
    writeField(b + 93, 4, Year);
    writeField(b + 97, 30, Comment);
    if (!NoTrack) {
        b[125] = 0;
        b[126] = static_cast<uint8_t>(Track);
    }
    b[127] = static_cast<uint8_t>(Genre);
    Modified = false;
}

void TID3v1Tag::SaveToStream(int fd) {
    uint8_t block[ID3v1Size];
    SaveToBuffer(block, sizeof block);
    const int64_t here = ::lseek(fd, 0, SEEK_CUR);
    if (here < 0) fail("ID3v1 tag");
    writeExact(fd, block, ID3v1Size, here, "ID3v1 tag");
    ::lseek(fd, here + ID3v1Size, SEEK_SET);
}

void TID3v1Tag::SaveToFile(const std::string& fileName) {
    Fd f(::open(fileName.c_str(), O_RDWR | O_CLOEXEC));
    if (f.fd < 0) fail(fileName);
    const int64_t size = fileSize(f.fd, fileName);
    int64_t at = size;
    if (size >= ID3v1Size) {
        uint8_t head[3];
        readExact(f.fd, head, 3, size - ID3v1Size, fileName);
        if (std::memcmp(head, "TAG", 3) == 0) at = size - ID3v1Size;
    }
    uint8_t block[ID3v1Size];
    SaveToBuffer(block, sizeof block);
    writeExact(f.fd, block, ID3v1Size, at, fileName);
    if (::fsync(f.fd) != 0) fail(fileName);
}

void TID3v1Tag::RemoveFromFile(const std::string& fileName) {
    Fd f(::open(fileName.c_str(), O_RDWR | O_CLOEXEC));
    if (f.fd < 0) fail(fileName);
    // Exclusive: nobody else may be writing the file while it shrinks.
    if (::flock(f.fd, LOCK_EX | LOCK_NB) != 0) fail(fileName);
    const int64_t size = fileSize(f.fd, fileName);
    if (size < ID3v1Size) return;
    uint8_t head[3];
    readExact(f.fd, head, 3, size - ID3v1Size, fileName);
    if (std::memcmp(head, "TAG", 3) != 0) return;
    if (::ftruncate(f.fd, size - ID3v1Size) != 0) fail(fileName);
}
