// The automatic choice of the firmware file: the highest version that a file
// name of the working folder carries. Only the name is looked at.
#include <dirent.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flasher.h"

char default_firmware[1000] = "";

namespace {

// A versioned name: 17 characters ending in "qln", the major version from
// position 3, the minor from position 5, the letter at 7, the CRC text at 9..12.
constexpr std::size_t versionedLength = 17;

bool isCandidate(const char* name, std::size_t length)
{
    return length >= 3 && std::strcmp(name + length - 3, "qln") == 0;
}

// "QLN", "Qln" and the like: a firmware file that the choice passes over.
bool endsInOtherCase(const char* name, std::size_t length)
{
    if (length < 3 || isCandidate(name, length))
        return false;
    const char* end = name + length - 3;
    return std::tolower(static_cast<unsigned char>(end[0])) == 'q' &&
           std::tolower(static_cast<unsigned char>(end[1])) == 'l' &&
           std::tolower(static_cast<unsigned char>(end[2])) == 'n';
}

// A text for the console: a file name may hold control bytes (a NUL cannot,
// but a line feed or an escape can), which are shown as '?'.
std::string shown(const char* text)
{
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

// The number at the start of `text` (blanks and a sign allowed), kept to 8
// bits. It is read in 64 bits on every system, so a long run of digits gives
// the same version everywhere (saturated at the 64-bit limits, then cut).
uint8_t numberAt(const char* text)
{
    return static_cast<uint8_t>(static_cast<unsigned long long>(std::strtoll(text, nullptr, 10)));
}

bool newer(const FirmwareVersion& v, const FirmwareVersion& best)
{
    if (v.msb != best.msb)
        return v.msb > best.msb;
    if (v.lsb != best.lsb)
        return v.lsb > best.lsb;
    return v.subver > best.subver;
}

}  // namespace

void considerFirmware(const char* name, FirmwareVersion& best)
{
    const std::size_t length = std::strlen(name);
    if (endsInOtherCase(name, length)) {
        fflush(stdout);
        fprintf(stderr, "%s is not considered: kxflash chooses only among names that end in \"qln\" in lower case. "
                        "Name it on the command line, or rename it, to flash it.\n", shown(name).c_str());
    }
    if (!isCandidate(name, length))
        return;
    FirmwareVersion v;
    char CRC[5] = "";
    if (length == versionedLength) {
        std::memcpy(CRC, name + 9, 4);
        v.msb = numberAt(name + 3);
        v.lsb = numberAt(name + 5);
        v.subver = static_cast<signed char>(name[7]);
    }
    // A name that carries no version letter (or not a printable one) shows none.
    const char letter[2] = {static_cast<char>(v.subver > 0x20 && v.subver < 0x7F ? v.subver : 0), '\0'};
    printf("%s -> CRC %s , Version %d.%02d%s\r\n", shown(name).c_str(), shown(CRC).c_str(), v.msb, v.lsb, letter);
    if (newer(v, best)) {
        snprintf(default_firmware, sizeof default_firmware, "%s", name);
        best = v;
    }
}

char get_newest_file()
{
    DIR* dir = opendir(".");
    if (!dir) {
        perror("Nie można otworzyć katalogu");
        return 0;
    }
    FirmwareVersion best;
    while (const dirent* entry = readdir(dir))
        considerFirmware(entry->d_name, best);
    closedir(dir);
    if (default_firmware[0] == '\0')
        return 0;
    printf("Chosen file %s \r\n", default_firmware);
    return 1;
}
