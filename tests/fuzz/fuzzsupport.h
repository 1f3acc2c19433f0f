// What the fuzz targets share: a private working folder (entered by the
// LLVMFuzzerInitialize that every target links from here), emptied before
// each input, with the programs' console output dropped.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../files.h"

namespace fuzz {

// Makes a fresh working folder inside a private parent folder and enters
// it; standard output goes nowhere.
void enterWorkFolder();
// Removes everything in the working folder.
void emptyWorkFolder();
// Names in the working folder's parent other than the working folder: what a
// run wrote outside the folder it was given.
bool parentUntouched();
inline void writeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size)
{
    ::writeFile(path, std::string(reinterpret_cast<const char*>(bytes), size));
}
// Stops the fuzzer with a finding when `holds` is false.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

}  // namespace fuzz
