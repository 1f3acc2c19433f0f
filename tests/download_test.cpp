// The log download: console output, "raw.dat" and the requests, under faults.
#include <algorithm>
#include <filesystem>
#include <regex>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "devlink.h"
#include "platform.h"
#include "instrument.h"
#include "sim.h"
#include "support.h"

namespace {

class Download : public InTempDir {
protected:
    std::string memory() const
    {
        const auto& m = sim::config().logMemory;
        return std::string(m.begin(), m.end());
    }
    // The log of an earlier download, which a failed one must leave alone.
    static std::string earlierLog()
    {
        LogBuilder().point(t0).point(t0 + 1).save("raw.dat");
        return readFile("raw.dat");
    }
    // After a download given up: "raw.dat" as it was, the whole pages read beside it.
    void expectKept(const std::string& earlier, unsigned pages, const RunResult& r) const
    {
        EXPECT_TRUE(readFile("raw.dat") == earlier);
        EXPECT_TRUE(readFile("raw-partial.dat") == memory().substr(0, pages * 4096)) << "pages " << pages;
        EXPECT_TRUE(endsWith(r.err, "\"raw.dat\" is as it was; the " + std::to_string(pages) +
                                        " whole pages read are in \"raw-partial.dat\".\n"))
            << r.err;
        EXPECT_EQ(r.out.find("Done..."), std::string::npos);
        EXPECT_EQ(r.out.find("Reading data"), std::string::npos);
    }
    // The download's part of the console: from the identity block to "Done...".
    static std::string downloadText(const std::string& out)
    {
        const size_t from = out.find(" h \r\n\r\n") + 7;
        const size_t to = out.find("Reading data");
        return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
    }
    // The download's text with each progress print replaced by "|"; the
    // percentages printed go to `percents`.
    static std::string pagesMarked(const std::string& text, std::vector<int>* percents = nullptr)
    {
        static const std::regex progress("\rDownloading data : +([0-9]+)%");
        std::string marked;
        auto from = text.cbegin();
        for (std::sregex_iterator it(text.begin(), text.end(), progress), end; it != end; ++it) {
            marked.append(from, (*it)[0].first).push_back('|');
            from = (*it)[0].second;
            if (percents)
                percents->push_back(std::stoi((*it)[1]));
        }
        return marked.append(from, text.cend());
    }
    static std::string crcLines(uint8_t calculated, uint8_t received)
    {
        char text[80];
        snprintf(text, sizeof text, "CRC error\r\ncalculatedCRC=%02X, received %02X\r\n", calculated, received);
        return text;
    }
    uint8_t partCrc(int page, int part) const
    {
        return crc8Of(&sim::config().logMemory[(page - 256) * 4096 + part * 32], 32);
    }
    // Requests for log parts, in the order sent.
    static std::vector<std::array<uint8_t, 64>> logRequests()
    {
        std::vector<std::array<uint8_t, 64>> out;
        for (const auto& r : sim::log().requests)
            if (r[0] == 14)
                out.push_back(r);
        return out;
    }
};

TEST_F(Download, CleanDownloadCopiesTheLogMemoryAndReportsEveryPage)
{
    const RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    std::vector<int> percents;
    EXPECT_EQ(pagesMarked(downloadText(r.out), &percents), std::string(256, '|') + "Done...\r\n");
    ASSERT_EQ(percents.size(), 256u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    for (const auto& [page, percent] : {std::pair{1, 0}, {2, 0}, {3, 1}, {127, 49}, {128, 50}, {254, 99}, {255, 100},
                                        {256, 100}})
        EXPECT_EQ(percents[page - 1], percent) << "after page " << page;
    EXPECT_EQ(readFile("raw.dat"), memory());
    EXPECT_EQ(logRequests().size(), 256u * 128u);
    EXPECT_EQ(sim::log().closes, 1u);
}

TEST_F(Download, PageStartFlagMarksEveryRequestForPartZero)
{
    sim::config().faults = {{sim::Fault::Timeout, 0, 14, 256, 0}, {sim::Fault::BadCrc, 0, 14, 300, 0, 2},
                            {sim::Fault::Timeout, 0, 14, 300, 9}};
    runLogreaderCaptured();
    int repeatsOfPartZero = 0;
    for (const auto& req : logRequests()) {
        ASSERT_EQ(req[4], req[3] == 0 ? 1 : 0) << "page " << (req[1] << 8 | req[2]) << " part " << int(req[3]);
        EXPECT_EQ(std::count(req.begin() + 5, req.end(), 0), 59);
        repeatsOfPartZero += req[3] == 0;
    }
    EXPECT_EQ(repeatsOfPartZero, 256 + 3);
}

TEST_F(Download, EveryFaultIsRepeatedAwayAndShownAsTheUserSeesIt)
{
    using sim::Fault;
    sim::config().faults = {
        {Fault::Timeout, 0, 14, 256, 5},   {Fault::ReadError, 0, 14, 256, 6}, {Fault::WrongEcho, 0, 14, 257, 0},
        {Fault::WrongCode, 0, 14, 258, 1}, {Fault::Short, 0, 14, 259, 2},     {Fault::BadCrc, 0, 14, 300, 0},
        {Fault::Late, 0, 14, 400, 127},    {Fault::BadCrc, 0, 14, 511, 127, 2},
        {Fault::Short, 0, 14, 260, 4, 1, 37},  // code, page, part, CRC and 32 bytes: whole, taken at once
    };
    const RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    const auto reqs = logRequests();
    const auto asked = [&](int page, int part) {
        return std::count_if(reqs.begin(), reqs.end(), [&](const auto& q) { return (q[1] << 8 | q[2]) == page && q[3] == part; });
    };
    EXPECT_EQ(asked(260, 4), 1);
    EXPECT_EQ(asked(259, 2), 2);  // 20 bytes are not
    std::string expected = "..";  // the timeout and the read error of page 256
    for (unsigned pages = 1; pages <= 256; ++pages) {
        if (pages == 45)  // page 300 is the 45th
            expected += crcLines(partCrc(300, 0), partCrc(300, 0) ^ 0x5A);
        if (pages == 145)
            expected += ".";
        if (pages == 256)
            expected += crcLines(partCrc(511, 127), partCrc(511, 127) ^ 0x5A) +
                        crcLines(partCrc(511, 127), partCrc(511, 127) ^ 0x5A);
        expected += "|";
    }
    EXPECT_EQ(pagesMarked(downloadText(r.out)), expected + "Done...\r\n");
    EXPECT_EQ(readFile("raw.dat"), memory());
}

TEST_F(Download, LateReplyNeverLandsInTheWrongPlace)
{
    // The first replies of page 256 miss the read that waits for them, so a
    // read that follows finds the previous part's answer first.
    sim::config().faults = {{sim::Fault::Late, 0, 14, 256, -1, 4}};
    const RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile("raw.dat"), memory());
    const auto reqs = logRequests();
    // Part 0 times out and is repeated; the late answer is taken for the repeat,
    // and the repeat's own answer, one part behind, makes part 1 go out twice.
    ASSERT_GE(reqs.size(), 4u);
    EXPECT_EQ(reqs[0][3], 0);
    EXPECT_EQ(reqs[1][3], 0);
    EXPECT_EQ(reqs[2][3], 1);
    EXPECT_EQ(reqs[3][3], 1);
    EXPECT_EQ(r.out.find("CRC error"), std::string::npos);
}

TEST_F(Download, TwoHundredCrcFailuresAreToleratedThe201stEndsTheRun)
{
    sim::config().faults = {{sim::Fault::BadCrc, 0, 14, 260, 3, 100}, {sim::Fault::BadCrc, 0, 14, 500, 64, 100}};
    RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile("raw.dat"), memory());

    sim::reset();
    const std::string earlier = earlierLog();
    sim::config().faults = {{sim::Fault::BadCrc, 0, 14, 260, 3, 150}, {sim::Fault::BadCrc, 0, 14, 261, 3, 51}};
    r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 1);
    expectKept(earlier, 5, r);  // pages 256..260, each whole
    EXPECT_EQ(r.err.find("\r\nMore than 200 CRC errors: download given up.\n"), 0u) << r.err;
}

TEST_F(Download, InterruptKeepsWholePagesAndEndsWithTheSignal)
{
    // Request 300 asks for part 42 of page 258; the download stops once it is stored.
    for (const auto& [kind, status] : {std::pair{sim::Fault::Interrupt, 130}, std::pair{sim::Fault::Terminate, 143}}) {
        sim::reset();
        const std::string earlier = earlierLog();
        sim::config().faults = {{kind, 300}};
        const RunResult r = runLogreaderCaptured();
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(sim::log().requests.size(), 300u);
        expectKept(earlier, 2, r);
        EXPECT_EQ(r.err.find("\r\nInterrupted: the instrument still holds its whole log.\n"), 0u) << r.err;
        EXPECT_EQ(sim::log().closes, 1u);
    }
}

// Something takes the name "raw.dat" while the download runs (a folder made
// in another window): the whole log stays in "raw-partial.dat", and it is said.
TEST_F(Download, NameTakenDuringTheDownloadKeepsTheWholeLogBesideIt)
{
    sim::config().faults = {{sim::Fault::Interrupt, 30000}};
    sim::deliverInterruptsWith([](int) { std::filesystem::create_directories("raw.dat/in-the-way"); });
    const RunResult r = runLogreaderCaptured();
    sim::deliverInterruptsWith(nullptr);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(readFile("raw-partial.dat") == memory());
    EXPECT_NE(r.err.find("Cannot replace \"raw.dat\" with the download: "), std::string::npos) << r.err;
    EXPECT_TRUE(endsWith(r.err, "\"raw.dat\" is as it was; the whole log is in \"raw-partial.dat\".\n")) << r.err;
}

TEST_F(Download, LostInstrumentIsGivenUpKeepingWholePages)
{
    // Identification is request 1; page 256 takes requests 2..129.
    const std::string earlier = earlierLog();
    sim::config().removedFrom = 1 + 128 * 3 + 40;
    RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 1);
    expectKept(earlier, 3, r);
    EXPECT_NE(r.out.find("The instrument stopped answering"), std::string::npos);
}

TEST_F(Download, InstrumentThatStopsAnsweringIsGivenUpAfterThirtySeconds)
{
    // Each unanswered read waits 400 ms: 74 of them are 29.6 s, the 75th makes 30 s.
    sim::config().faults = {{sim::Fault::Timeout, 0, 14, 258, 7, 74}};
    EXPECT_EQ(runLogreaderCaptured().status, 0);
    // The bound counts from the start of the download, not from the clock's origin.
    sim::reset();
    sim::config().faults = {{sim::Fault::Timeout, 0, 14, 256, 0, 3}};
    EXPECT_EQ(runLogreaderCaptured().status, 0);
    sim::reset();
    sim::config().faults = {{sim::Fault::Timeout, 0, 14, 258, 7, 75}};
    EXPECT_EQ(runLogreaderCaptured().status, 1);

    for (sim::Fault kind : {sim::Fault::Timeout, sim::Fault::WrongEcho}) {
        sim::reset();
        std::filesystem::remove("raw.dat");
        sim::config().faults = {{kind, 0, 14, 258, 7, 1000000}};
        const RunResult r = runLogreaderCaptured();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("No usable answer from the instrument for 30 s: download given up.\r\n"),
                  std::string::npos);
        EXPECT_EQ(r.err, "There is no earlier \"raw.dat\"; the 2 whole pages read are in \"raw-partial.dat\".\n");
        EXPECT_EQ(readFile("raw-partial.dat"), memory().substr(0, 2 * 4096));
        EXPECT_LT(sim::virtualClock().elapsedUs(), 32000000u);
    }
}

TEST_F(Download, RawFileThatCannotBeWrittenIsAFailureNeverDone)
{
    const auto givenUp = [](const std::string& reason, const std::string& kept = "") {
        const RunResult r = runWithDeadline(runLogreaderCaptured, {});
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Done..."), std::string::npos);
        EXPECT_EQ(r.out.find("Reading data"), std::string::npos);
        if (!kept.empty()) {
            EXPECT_EQ(readFile("raw-partial.dat"), kept);
        }
    };
    std::filesystem::create_directory("raw.dat");
    givenUp("Cannot create \"raw.dat\" in the working folder: not a regular file. Nothing was downloaded.");
    std::filesystem::remove("raw.dat");
    if (makeFifo("raw.dat"))
        givenUp("Cannot create \"raw.dat\" in the working folder: not a regular file. Nothing was downloaded.");
    std::filesystem::remove("raw.dat");
    std::filesystem::create_directory("raw-partial.dat");
    givenUp("Cannot create \"raw-partial.dat\" in the working folder: ");
    std::filesystem::remove("raw-partial.dat");

#ifndef _WIN32
    // A disk that fills up after two pages.
    std::filesystem::remove("raw.dat");
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 2 * 4096 + 100;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    givenUp("Cannot write \"raw-partial.dat\": File too large. Download given up.\nThere is no earlier \"raw.dat\"; "
            "the 2 whole pages read are in \"raw-partial.dat\".\n",
            memory().substr(0, 2 * 4096));
    setrlimit(RLIMIT_FSIZE, &before);

    // Every page written, and closing the file fails.
    failNextCloseOf("raw-partial.dat");
    givenUp("Cannot write \"raw-partial.dat\": Input/output error. \"raw.dat\" is as it was.");
    EXPECT_FALSE(std::filesystem::exists("raw.dat"));
#endif
}

}  // namespace
