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
    Settings settings;
    {
        Silence quiet;
        readSettings(text, "kxconvert.conf", settings);
    }
    const PilotDetails& p = settings.pilot;
    std::vector<const std::string*> values = {&p.pilot, &p.aircraft, &p.registration, &p.competitionId};
    for (const auto& [name, a] : settings.aircraft)
        values.insert(values.end(), {&name, &a.registration, &a.t1Name, &a.t2Name});
    for (const std::string* value : values)
        for (const char c : *value)
            fuzz::require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a setting with a control byte");
}

void checkLogbook(const std::string& text)
{
    // Read as the pilot's view and as the library's own list, each written
    // back in the form it was read in.
    for (const RowsNeed need : {RowsNeed::Name, RowsNeed::Identity}) {
        Logbook book, again;
        {
            Silence quiet;
            readLogbook(text, "logbook.csv", need, book);
            readLogbook(logbookText(book), "logbook.csv", need, again);
        }
        fuzz::require(again.unreadable.empty(), "a logbook as written cannot be read back");
        fuzz::require(again.rows.size() == book.rows.size(), "rows lost between writing and reading back");
        fuzz::require(again.form.separator == book.form.separator && again.form.crlf == book.form.crlf &&
                          again.form.byteOrderMark == book.form.byteOrderMark, "written back in another form");
        for (std::size_t k = 0; k < book.rows.size() && k < again.rows.size(); ++k)
            fuzz::require(again.rows[k].fields() == book.rows[k].fields(), "a row changed on its way back");
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
