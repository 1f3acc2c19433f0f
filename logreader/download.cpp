// The download of log pages 256..511 with command 14, one 32-byte part per
// request, each part checked with CRC-8. The pages go to "raw-partial.dat" as
// they complete, and the file becomes "raw.dat" when all 256 are in: a
// download that fails never touches the "raw.dat" of an earlier one.
#include <cerrno>
#include <cstring>

#include "exitcodes.h"
#include "linkclock.h"
#include "logreader.h"
#include "platform.h"

std::array<uint8_t, reportSize> inputBuffer{};

namespace {

constexpr unsigned maxCrcErrors = 200;
// Without an accepted part for this long, the instrument is taken as gone.
constexpr uint64_t stallLimitMs = 30000;
// Bytes a command-14 reply must carry: code, page, part, CRC and 32 data bytes.
constexpr int replyLength = logreq::data + partSize;

struct Download {
    uint16_t address = start_address;
    uint8_t part = 0;
    uint8_t pageStart = 1;  // 1 on every request for part 0 of a page
    unsigned crcErrors = 0;  // error: CRC failures in this download, never reset
    std::array<uint8_t, pageSize> buff{};
    FILE* output = nullptr;
    unsigned pagesWritten = 0;  // whole pages in the file
    uint64_t lastAccepted = 0;
};

unsigned pagesDone(const Download& d) { return d.address - start_address; }

void sendPartRequest(hid_device* device, const Download& d)
{
    putRequest(0, static_cast<uint8_t>(Cmd::ReadLog));
    putRequest16(logreq::page, d.address);
    putRequest(logreq::part, d.part);
    putRequest(logreq::pageStart, d.pageStart);
    sendRequest(device);
}

bool echoMatches(const Download& d)
{
    return inputBuffer[0] == static_cast<uint8_t>(Cmd::ReadLog) && inputBuffer[1] == (d.address >> 8) &&
           inputBuffer[2] == (d.address & 0xFF) && inputBuffer[3] == d.part;
}

bool stalled(const Download& d)
{
    if (linkNowMs() - d.lastAccepted < stallLimitMs)
        return false;
    printf("\r\nNo usable answer from the instrument for %u s: download given up.\r\n",
           static_cast<unsigned>(stallLimitMs / 1000));
    return true;
}

// True when "raw.dat" is the regular file of an earlier download.
bool earlierLog()
{
    uint64_t size = 0;
    std::time_t modified = 0;
    return platform::regularFileInfo(rawFileName, size, modified);
}

// After a download that did not complete: where the earlier log and the
// pages read now are.
void reportKept(unsigned pages)
{
    fflush(stdout);
    fprintf(stderr, "%s; the %u whole pages read are in \"%s\".\n",
            earlierLog() ? "\"raw.dat\" is as it was" : "There is no earlier \"raw.dat\"", pages, partialFileName);
}

// Stores a complete page; false (with the system's reason) when it could not
// be written whole.
bool writePage(Download& d)
{
    if (std::fwrite(d.buff.data(), 1, d.buff.size(), d.output) == d.buff.size() && std::fflush(d.output) == 0) {
        ++d.pagesWritten;
        return true;
    }
    const int reason = errno;
    // A page written in part is taken back: the file holds whole pages only.
    platform::truncateTo(d.output, d.pagesWritten * pageSize);
    fprintf(stderr, "\r\nCannot write \"%s\": %s. Download given up.\n", partialFileName, std::strerror(reason));
    return false;
}

// Takes an accepted part; false when its completed page could not be written.
bool acceptPart(Download& d)
{
    std::memcpy(&d.buff[d.part * partSize], &inputBuffer[logreq::data], partSize);
    d.lastAccepted = linkNowMs();
    if (d.part <= 126) {
        d.pageStart = 0;
        ++d.part;
        return true;
    }
    d.part = 0;
    ++d.address;
    const unsigned percent = pagesDone(d) * 100 / (stop_address - start_address);
    printf("\rDownloading data : %3d%c", percent, 37);
    fflush(stdout);
    if (!writePage(d))
        return false;
    d.pageStart = 1;
    return true;
}

enum class Step { Accepted, Repeat, GiveUp };

// One request and its reply.
Step fetchPart(hid_device* device, Download& d, ReadFailureGuard& guard)
{
    sendPartRequest(device, d);
    const int length = readReply(device, inputBuffer.data(), replyTimeoutMs(Cmd::ReadLog));
    if (length <= 0) {
        printf(".");
        fflush(stdout);
        if (guard.lost(length)) {
            reportInstrumentLost(device);
            return Step::GiveUp;
        }
        return stalled(d) ? Step::GiveUp : Step::Repeat;
    }
    guard.lost(length);  // a reply: the next failed read starts a new run of failures
    // A reply with another echo answers an earlier request; a short one lacks its data.
    if (!echoMatches(d) || length < replyLength)
        return stalled(d) ? Step::GiveUp : Step::Repeat;
    const uint8_t CRC = crc8Of(&inputBuffer[logreq::data], partSize);
    if (CRC != inputBuffer[logreq::crc]) {
        printf("CRC error\r\n");
        printf("calculatedCRC=%02X, received %02X\r\n", CRC, inputBuffer[logreq::crc]);
        if (++d.crcErrors > maxCrcErrors) {
            fflush(stdout);
            fprintf(stderr, "\r\nMore than %u CRC errors: download given up.\n", maxCrcErrors);
            return Step::GiveUp;
        }
        return stalled(d) ? Step::GiveUp : Step::Repeat;
    }
    return acceptPart(d) ? Step::Accepted : Step::GiveUp;
}

// Opens the file the pages go to; nullptr (with the reason on standard error)
// when it cannot be made, or when what is called "raw.dat" is no file that a
// download could replace.
FILE* openPartialFile()
{
    if (platform::exists(rawFileName) && !earlierLog()) {
        fprintf(stderr, "Cannot create \"raw.dat\" in the working folder: not a regular file. Nothing was downloaded.\n");
        return nullptr;
    }
    const char* reason = "";
    FILE* output = platform::openRegularFile(partialFileName, "wb", reason);
    if (!output)
        fprintf(stderr, "Cannot create \"%s\" in the working folder: %s. Nothing was downloaded.\n", partialFileName,
                reason);
    return output;
}

// The pages are all in: the download becomes "raw.dat", on the disk before
// it takes the name, and the name on the disk after.
int completeDownload(Download& d)
{
    const bool flushed = platform::flushFile(d.output);
    const int reason = errno;
    if (std::fclose(d.output) != 0 || !flushed) {
        errno = flushed ? errno : reason;
        fprintf(stderr, "\r\nCannot write \"%s\": %s. \"raw.dat\" is as it was.\n", partialFileName,
                std::strerror(errno));
        return exitcode::failed;
    }
    if (!platform::replaceFile(partialFileName, rawFileName)) {
        fprintf(stderr, "\r\nCannot replace \"raw.dat\" with the download: %s. \"raw.dat\" is as it was; the whole "
                        "log is in \"%s\".\n", std::strerror(errno), partialFileName);
        return exitcode::failed;
    }
    platform::syncFolder(".");
    return exitcode::ok;
}

}  // namespace

int downloadLog(hid_device* device)
{
    Download d;
    d.output = openPartialFile();
    if (!d.output)
        return exitcode::failed;
    // Pages go to the file as they complete, with nothing left in a buffer.
    std::setvbuf(d.output, nullptr, _IONBF, 0);
    d.lastAccepted = linkNowMs();
    ReadFailureGuard guard;
    while (d.address <= stop_address) {
        if (const int signal = platform::pendingInterrupt()) {
            fflush(stdout);
            fprintf(stderr, "\r\nInterrupted: the instrument still holds its whole log.\n");
            std::fclose(d.output);
            reportKept(d.pagesWritten);
            return exitcode::interrupted(signal);
        }
        if (fetchPart(device, d, guard) == Step::GiveUp) {
            std::fclose(d.output);
            reportKept(d.pagesWritten);
            return exitcode::failed;
        }
    }
    return completeDownload(d);
}
