#include "support.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <fcntl.h>

#include "converter.h"
#include "flasher.h"
#include "logreader.h"
#include "platform.h"
#include "sim.h"

namespace {

template <typename Run>
RunResult captured(Run run, const char* program, const std::vector<std::string>& args)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    OutputCapture capture;
    const int status = run(static_cast<int>(words.size()), argv.data());
    RunResult r = capture.stop();
    r.status = status;
    return r;
}

}  // namespace

#ifndef O_BINARY
#define O_BINARY 0
#endif

OutputCapture::OutputCapture()
{
    begin(out_, 1, "out");
    begin(err_, 2, "err");
}

OutputCapture::~OutputCapture()
{
    if (out_.saved >= 0)
        stop();
}

void OutputCapture::begin(Stream& s, int fd, const char* tag)
{
    static unsigned counter = 0;
    fflush(fd == 1 ? stdout : stderr);
    s.fd = fd;
    s.path = (std::filesystem::temp_directory_path() /
              ("kxcapture-" + std::to_string(++counter) + "-" + tag + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                 .string();
    const int file = open(s.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0600);
    s.saved = dup(fd);
    dup2(file, fd);
    close(file);
}

std::string OutputCapture::end(Stream& s)
{
    fflush(s.fd == 1 ? stdout : stderr);
    dup2(s.saved, s.fd);
    close(s.saved);
    s.saved = -1;
    std::string text = readFile(s.path);
    std::remove(s.path.c_str());
    return text;
}

RunResult OutputCapture::stop()
{
    RunResult r;
    r.out = end(out_);
    r.err = end(err_);
    return r;
}

RunResult runLogreaderCaptured(const std::vector<std::string>& args)
{
    return captured(runLogreader, "kxlogreader", args);
}

RunResult runFlasherCaptured(const std::vector<std::string>& args)
{
    return captured(runFlasher, "kxflash", args);
}

RunResult runConverterCaptured(const std::vector<std::string>& args)
{
    return captured(runConverter, "kxconvert", args);
}

#ifdef _WIN32
RunResult runWithDeadline(RunResult (*run)(const std::vector<std::string>&), const std::vector<std::string>& args,
                          unsigned)
{
    return run(args);
}

bool makeFifo(const std::string&) { return false; }
FILE* failingStream(const std::string&) { return nullptr; }
bool failNextCloseOf(const std::string&) { return false; }
#else
RunResult runWithDeadline(RunResult (*run)(const std::vector<std::string>&), const std::vector<std::string>& args,
                          unsigned seconds)
{
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        const RunResult r = run(args);
        writeFile("child.out", r.out);
        writeFile("child.err", r.err);
        _exit(r.status & 0xFF);
    }
    int how = 0;
    waitpid(child, &how, 0);
    RunResult r;
    r.out = readFile("child.out");
    r.err = readFile("child.err");
    std::remove("child.out");
    std::remove("child.err");
    r.status = WIFEXITED(how) ? static_cast<signed char>(WEXITSTATUS(how)) : hung;
    return r;
}

bool makeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

// kxtests is linked with --wrap=fclose: every fclose of the programs comes here.
namespace {
std::string closeToFail;
}

extern "C" int __real_fclose(FILE* stream);
extern "C" int __wrap_fclose(FILE* stream)
{
    if (closeToFail.empty() || !stream)
        return __real_fclose(stream);
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0 || !endsWith(std::string(path, static_cast<size_t>(n)), closeToFail))
        return __real_fclose(stream);
    closeToFail.clear();
    __real_fclose(stream);
    errno = EIO;
    return EOF;
}

bool failNextCloseOf(const std::string& name)
{
    closeToFail = name.empty() ? "" : "/" + name;
    return true;
}

namespace {
struct Failing {
    std::string bytes;
    size_t at = 0;
};
}  // namespace

FILE* failingStream(const std::string& bytes)
{
    cookie_io_functions_t io{};
    io.read = [](void* c, char* buf, size_t size) -> ssize_t {
        Failing& f = *static_cast<Failing*>(c);
        if (f.at >= f.bytes.size()) {
            errno = EIO;
            return -1;
        }
        const size_t n = std::min(size, f.bytes.size() - f.at);
        std::memcpy(buf, f.bytes.data() + f.at, n);
        f.at += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* c, off64_t* offset, int whence) -> int {
        Failing& f = *static_cast<Failing*>(c);
        const off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off64_t>(f.at)
                                                                          : static_cast<off64_t>(f.bytes.size());
        f.at = static_cast<size_t>(base + *offset);
        *offset = static_cast<off64_t>(f.at);
        return 0;
    };
    io.close = [](void* c) -> int {
        delete static_cast<Failing*>(c);
        return 0;
    };
    return fopencookie(new Failing{bytes}, "rb", io);
}
#endif

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> listFolder(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void InTempDir::SetUp()
{
    static unsigned counter = 0;
    home_ = std::filesystem::current_path().string();
    const auto base = std::filesystem::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path dir;
    do
        dir = base / ("kxtest-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    while (!std::filesystem::create_directory(dir));
    dir_ = dir.string();
    std::filesystem::current_path(dir);
    startLogreaderRun();
    startFlasherRun();
    sim::reset();
}

void InTempDir::TearDown()
{
    failNextCloseOf("");  // not left armed for the next test
    std::filesystem::current_path(home_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void setTimeZone(const char* tz)
{
#ifdef _WIN32
    _putenv_s("TZ", tz);
    _tzset();
#else
    setenv("TZ", tz, 1);
    tzset();
#endif
}

void setModified(const std::string& path, uint32_t time)
{
    // Through the clocks' difference from now: C++17 has no direct conversion.
    const auto since = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(time)) -
                       std::chrono::system_clock::now();
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() +
                  std::chrono::duration_cast<std::filesystem::file_time_type::duration>(since));
}

std::string exportName(uint32_t time, const char* format)
{
    char name[40];
    platform::formatLocal(time, format, name, sizeof name);
    return name;
}

std::string openHint(const char* program)
{
    if (platform::windows)
        return "";
    return "The instrument is there but may not be yours to open: install the udev rule 70-kxplus.rules (see man " +
           std::string(program) + "), unplug and plug it in again, or run as root.\n";
}

sim::PointFields example(uint32_t time, float lat, float lon, int16_t altitude)
{
    sim::PointFields p;
    p.time = time;
    p.lat = lat;
    p.lon = lon;
    p.speed = 100;
    p.altitudeGps = 250;
    p.course = 45;
    p.rpm = 300;
    p.t1 = 85;
    p.t2 = 90;
    p.tz = 21;
    p.fuel = 60;
    p.satellites = 7;
    p.vario = 12;
    p.altitude = altitude;
    return p;
}

LogBuilder& LogBuilder::point(const sim::PointFields& p)
{
    char r[32];
    sim::encodePoint(reinterpret_cast<uint8_t*>(r), p);
    bytes.append(r, sizeof r);
    return *this;
}

LogBuilder& LogBuilder::point(uint32_t time, float lat, float lon)
{
    sim::PointFields p;
    p.time = time;
    p.lat = lat;
    p.lon = lon;
    return point(p);
}

LogBuilder& LogBuilder::other(uint8_t type, uint32_t time)
{
    char r[32];
    sim::encodeOther(reinterpret_cast<uint8_t*>(r), type, time);
    bytes.append(r, sizeof r);
    return *this;
}

int main(int argc, char** argv)
{
    setTimeZone("UTC0");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
