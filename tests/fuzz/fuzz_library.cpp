// The library's own files as bytes: a logbook as a spreadsheet, a damaged
// disk or a hand may leave it, and the settings file. No crash, every row
// read is written back and read again the same, and no setting carries a
// control byte into an IGC header.
#include <fcntl.h>
#include <unistd.h>

#include "fuzzsupport.h"
#include "logbook.h"

namespace {

// The readers name every line they cannot take on standard error; while they
// read, that goes nowhere (the fuzzer's own reports still reach it).
class Silence {
public:
    Silence() : saved_(dup(2)) { dup2(nowhere(), 2); }
    ~Silence() { dup2(saved_, 2), close(saved_); }

private:
    static int nowhere()
    {
        static const int fd = open("/dev/null", O_WRONLY);
        return fd;
    }
    int saved_;
};

void checkSettings(const std::string& text)
{
    PilotDetails details;
    {
        Silence quiet;
        readSettings(text, "kxconvert.conf", details);
    }
    for (const std::string* value : {&details.pilot, &details.aircraft, &details.registration, &details.competitionId})
        for (const char c : *value)
            fuzz::require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a setting with a control byte");
}

void checkLogbook(const std::string& text)
{
    Logbook book, again;
    {
        Silence quiet;
        readLogbook(text, "logbook.csv", book);
        readLogbook(logbookText(book), "logbook.csv", again);
    }
    fuzz::require(again.unreadable.empty(), "a logbook as written cannot be read back");
    fuzz::require(again.rows.size() == book.rows.size(), "rows lost between writing and reading back");
    for (const auto& [start, row] : book.rows) {
        const auto it = again.rows.find(start);
        fuzz::require(it != again.rows.end() && it->second.fields() == row.fields(), "a row changed on its way back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return -1;
    const std::string text(reinterpret_cast<const char*>(bytes + 1), size - 1);
    if (bytes[0] & 1)
        checkSettings(text);
    else
        checkLogbook(text);
    return 0;
}
