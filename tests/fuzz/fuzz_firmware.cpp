// Firmware file names and contents through the automatic choice and the
// upload: no crash, no hang, nothing flashed from a name that is not a
// regular file, and a good flashing starts with the file's first page.
#include <cstring>

#include "flasher.h"
#include "fuzzsupport.h"
#include "sim.h"

namespace {

// Up to three names, each a length byte and its characters; the rest of the
// input is the content of every file so named. A name may also become a folder.
struct Layout {
    std::vector<std::pair<std::string, bool>> names;  // name, is a folder
    const uint8_t* content = nullptr;
    size_t contentSize = 0;
};

Layout split(const uint8_t* bytes, size_t size)
{
    Layout l;
    size_t at = 0;
    const size_t count = size > 0 ? bytes[at++] % 4 : 0;
    for (size_t i = 0; i < count && at < size; ++i) {
        const size_t length = bytes[at++] % 24;
        std::string name(reinterpret_cast<const char*>(bytes + at), std::min(length, size - at));
        at += name.size();
        const bool folder = !name.empty() && name[0] == 'D';
        for (char& c : name)
            if (c == '/' || c == '\0')
                c = '_';
        if (!name.empty() && name != "." && name != "..")
            l.names.emplace_back(name, folder);
    }
    l.content = bytes + at;
    l.contentSize = size - at;
    return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    fuzz::emptyWorkFolder();
    sim::reset();
    const Layout layout = split(bytes, size);
    for (const auto& [name, folder] : layout.names) {
        std::error_code ignored;
        if (folder)
            std::filesystem::create_directory(name, ignored);
        else
            fuzz::writeFile(name, layout.content, layout.contentSize);
    }
    char program[] = "kxflash";
    char* argv[] = {program, nullptr};
    const int status = runFlasher(1, argv);
    fuzz::require(status == 0 || status == 2, "kxflash ended with a status it never gives");
    const bool sent = !sim::flash().empty();
    const std::string chosen = default_firmware[0] ? default_firmware : "firmware.qln";
    fuzz::require(!sent || std::filesystem::is_regular_file(chosen), "something that is not a file was flashed");
    if (status == 0) {
        const std::vector<uint8_t> flash = sim::flashImage();
        const size_t n = std::min<size_t>(layout.contentSize, 4096);
        fuzz::require(flash.size() >= n && std::memcmp(flash.data(), layout.content, n) == 0,
                      "a good flashing does not start with the file's first page");
    }
    fuzz::require(fuzz::parentUntouched(), "a file was written outside the working folder");
    return 0;
}
