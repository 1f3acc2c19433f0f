// The output folder as a flight library: the logbook read and written whole,
// the names of flights new to it, and the totals.
#include "library.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>

#include "pagetext.h"
#include "platform.h"

namespace {

// The file's bytes into `text`; false with the reason when it cannot be read.
bool readWhole(const std::string& path, std::string& text, const char*& reason)
{
    std::FILE* file = platform::openRegularFile(path.c_str(), "rb", reason);
    if (!file)
        return false;
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, n);
    const bool ok = !std::ferror(file);
    reason = ok ? nullptr : std::strerror(errno);
    std::fclose(file);
    return ok;
}

// Writes what `produce` hands its Emit under a temporary name and gives it
// the name `path` when it is whole; false with the reason otherwise, and
// `path` is as it was.
bool writeWhole(const std::string& path, const std::function<void(const Emit&)>& produce, const char*& reason)
{
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    bool ok = file != nullptr;
    if (file)
        produce([&](const std::string& piece) {
            ok = ok && std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
        });
    ok = file && std::fclose(file) == 0 && ok;
    ok = ok && platform::replaceFile(part.c_str(), path.c_str());
    reason = ok ? nullptr : std::strerror(errno);
    if (!ok)
        std::remove(part.c_str());
    return ok;
}

bool appendTo(const std::string& path, const std::string& text, const char*& reason)
{
    std::FILE* file = std::fopen(path.c_str(), "ab");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = file && std::fclose(file) == 0 && ok;
    reason = ok ? nullptr : std::strerror(errno);
    return ok;
}

// What the summary calls each fate.
struct FateWord {
    Fate id;
    const char* word;
};
constexpr FateWord fateWords[] = {{Fate::New, "new"},
                                  {Fate::Unchanged, "unchanged"},
                                  {Fate::Replaced, "replaced by a longer copy"},
                                  {Fate::KeptLonger, "kept as the longer copy"}};
static_assert(followsEnum(fateWords, static_cast<std::size_t>(Fate::Count)), "a word for every fate, in its order");

std::string said(const Totals& t)
{
    return std::to_string(t.flights) + (t.flights == 1 ? " flight" : " flights") + ", flight time " +
           duration(t.flightSeconds) + ", engine time " + duration(t.engineSeconds);
}

}  // namespace

std::string libraryPath(const Library& library, const std::string& name)
{
    return (std::filesystem::path(library.folder) / name).string();
}

bool openLibrary(const std::string& folder, Library& library)
{
    library.folder = folder;
    const std::string path = libraryPath(library, logbookName);
    if (!platform::exists(path.c_str()))
        return true;
    const char* reason = nullptr;
    if (!readWhole(path, library.bookText, reason)) {
        fprintf(stderr, "kxconvert: cannot read %s: %s. Nothing was written, so that no flight of it is lost.\n",
                path.c_str(), reason);
        return false;
    }
    readLogbook(library.bookText, path, library.book);
    for (const auto& [start, row] : library.book.rows) {
        library.stems.insert(row.stem);
        unsigned& highest = library.highest[start / 86400];
        highest = std::max(highest, dayNumberOf(row.stem));
    }
    return true;
}

std::string newStem(Library& library, uint32_t start)
{
    unsigned& number = library.highest[start / 86400];
    const auto taken = [&](const std::string& stem) {
        if (library.stems.count(stem))
            return true;
        for (std::size_t k = 0; k < formatCount; ++k)
            if (platform::exists(libraryPath(library, stem + formatTable[k].ending).c_str()))
                return true;
        return false;
    };
    std::string stem;
    do
        stem = flightStem(utcOf(start), ++number);
    while (taken(stem));
    library.stems.insert(stem);
    return stem;
}

bool saveLibrary(Library& library)
{
    const char* reason = nullptr;
    const std::string aside = libraryPath(library, unreadableName);
    if (!library.book.unreadable.empty() && !appendTo(aside, library.book.unreadable, reason)) {
        fprintf(stderr, "kxconvert: cannot keep the lines it could not read in %s: %s. The logbook was not updated, "
                        "so that none of them is lost.\n", aside.c_str(), reason);
        return false;
    }
    library.book.unreadable.clear();
    // Written when it differs from the file: a flight came, or the file was saved otherwise.
    std::size_t at = 0;
    bool same = true;
    writeLogbook(library.book, [&](const std::string& line) {
        same = same && library.bookText.compare(at, line.size(), line) == 0;
        at += line.size();
    });
    if (same && at == library.bookText.size())
        return true;
    const std::string path = libraryPath(library, logbookName);
    const auto produce = [&](const Emit& emit) { writeLogbook(library.book, emit); };
    if (!writeWhole(path, produce, reason)) {
        fprintf(stderr, "kxconvert: cannot write %s: %s. It is as it was; the flights written now are not in it "
                        "yet: convert the log again.\n", path.c_str(), reason);
        return false;
    }
    library.bookText.clear();
    return true;
}

bool saveIndex(const Library& library)
{
    const std::string path = libraryPath(library, "index.html");
    // The folder's names read once: a library of years holds thousands of files.
    std::vector<std::string> names = platform::fileNames(library.folder);
    std::sort(names.begin(), names.end());
    const auto exists = [&](const std::string& name) { return std::binary_search(names.begin(), names.end(), name); };
    const char* reason = nullptr;
    if (writeWhole(path, [&](const Emit& emit) { page::indexPage(library.book, exists, emit); }, reason))
        return true;
    fprintf(stderr, "kxconvert: cannot write %s: %s. It is as it was.\n", path.c_str(), reason);
    return false;
}

void printSummary(const Library& library, const std::vector<LogFlight>& flights, const std::vector<Fate>& fates)
{
    Totals run;
    unsigned counts[std::size(fateWords)] = {};
    for (std::size_t i = 0; i < flights.size(); ++i) {
        run.add(flights[i].figures.flightSeconds(), flights[i].figures.engineSeconds);
        ++counts[static_cast<std::size_t>(fates[i])];
    }
    Totals all, year;
    const int thisYear = utcOf(static_cast<uint32_t>(std::time(nullptr))).year;
    for (const auto& [start, row] : library.book.rows) {
        all.add(row);
        if (utcOf(start).year == thisYear)
            year.add(row);
    }
    std::string kinds;
    for (const FateWord& f : fateWords)
        if (const unsigned n = counts[static_cast<std::size_t>(f.id)])
            kinds += (kinds.empty() ? " (" : ", ") + std::to_string(n) + " " + f.word;
    printf("This run: %s%s.\n", said(run).c_str(), kinds.empty() ? "" : (kinds + ")").c_str());
    printf("The library: in %d %s; in all %s.\n", thisYear, said(year).c_str(), said(all).c_str());
}
