#include "files/riff/RiffInfo.h"

#include <cstring>

const TRiffInfoId RiffInfoTable[RiffInfoCount] = {
    {"IARL", "Archival Location", "Indicates where the subject of the file is archived."},
    {"IART", "Artist", "Lists the artist of the original subject of the file."},
    {"ICMS", "Commissioned",
     "Lists the name of the person or organization that commissioned the subject of the file."},
    {"ICMT", "Comments", "Provides general comments about the file or the subject of the file."},
    {"ICOP", "Copyright", "Records the copyright information for the file."},
    {"ICRD", "Creation date", "Specifies the date the subject of the file was created, as year-month-day."},
    {"ICRP", "Cropped", "Describes whether an image has been cropped and, if so, how it was cropped."},
    {"IDIM", "Dimensions", "Specifies the size of the original subject of the file."},
    {"IDPI", "Dots Per Inch", "Stores the dots-per-inch setting of the digitizer used to produce the file."},
    {"IENG", "Engineer", "Stores the name of the engineer who worked on the file."},
    {"IGNR", "Genre", "Describes the original work, such as jazz, classical or rock."},
    {"IKEY", "Keywords", "Provides a list of keywords that refer to the file or its subject."},
    {"ILGT", "Lightness",
     "Describes the changes in lightness settings on the digitizer required to produce the file."},
    {"IMED", "Medium", "Describes the original subject of the file, such as record, CD or videotape."},
    {"INAM", "Name", "Stores the title of the subject of the file."},
    {"IPLT", "Palette Setting", "Specifies the number of colors requested when digitizing an image."},
    {"IPRD", "Product", "Specifies the name of the title the file was originally intended for."},
    {"ISBJ", "Subject", "Describes the contents of the file."},
    {"ISFT", "Software", "Identifies the name of the software package used to create the file."},
    {"ISHP", "Sharpness",
     "Identifies the changes in sharpness for the digitizer required to produce the file."},
    {"ISRC", "Source",
     "Identifies the name of the person or organization who supplied the original subject of the file."},
    {"ISRF", "Source Form",
     "Identifies the original form of the material that was digitized, such as slide or paper."},
    {"ITCH", "Technician", "Identifies the technician who digitized the subject of the file."},
};

int RiffInfoIndex(const std::string& id) {
    if (id.size() != 4) return -1;
    for (int i = 0; i < RiffInfoCount; ++i)
        if (std::memcmp(RiffInfoTable[i].id, id.data(), 4) == 0) return i;
    return -1;
}

int RiffInfoIndex(uint32_t fourcc) {
    char id[4];
    for (int k = 0; k < 4; ++k)
        id[k] = static_cast<char>((fourcc >> (8 * k)) & 0xFF);
    return RiffInfoIndex(std::string(id, 4));
}
