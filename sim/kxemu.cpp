// Runs a program with the simulated instrument attached as a USB device:
// umockdev fakes sysfs, udev and /dev for it, and the instrument answers the
// usbfs ioctls that libusb makes. The program is unmodified: the real
// kxlogreader or kxflash with the real hidapi and libusb. The instrument
// reads the same KXSIM_* settings as the -sim programs; KXEMU_COUNT=2
// attaches a second instrument, and KXEMU_REPORT=FILE receives what the
// instrument saw.
//   kxemu PROGRAM [ARGS...]           the exit status is the program's
//   kxemu --hidraw PROGRAM [ARGS...]  the instrument as a hidraw node instead
//                                     (hidapi's hidraw back end, wine's HID
//                                     stack); one instrument only
#include <glib-unix.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "instrument.h"
#include "hidraw.h"
#include "usbfs.h"

namespace {

struct Run {
    GMainLoop* loop = nullptr;
    GPid child = 0;
    int status = 1;
};
Run run;

// An interrupt fault (KXSIM_FAULTS=sigint@N) goes to the program, as Ctrl-C would.
void signalProgram(int signal)
{
    if (run.child > 0)
        kill(run.child, signal);
}

// Stopped from outside (a test's time limit, Ctrl-C): the program is
// stopped too, and the testbed's temporary folder still removed.
gboolean stopped(gpointer data)
{
    Run& run = *static_cast<Run*>(data);
    if (run.child > 0)
        kill(run.child, SIGTERM);
    run.status = 128 + SIGTERM;
    g_main_loop_quit(run.loop);
    return G_SOURCE_REMOVE;
}

void childEnded(GPid, gint how, gpointer data)
{
    Run& run = *static_cast<Run*>(data);
    run.child = 0;
    run.status = WIFEXITED(how) ? WEXITSTATUS(how) : 128 + WTERMSIG(how);
    g_main_loop_quit(run.loop);
}

// What the instrument saw, for the tests: requests by command, restarts,
// and the instrument each request went to.
void writeReport(const char* path, const sim::hidraw::Node* node)
{
    FILE* f = std::fopen(path, "w");
    if (!f)
        return;
    std::map<int, int> byCommand;
    for (const auto& r : sim::log().requests)
        ++byCommand[r[0]];
    std::fprintf(f, "requests %zu\nrestarts %u\n", sim::log().requests.size(), sim::log().restarts);
    for (const auto& [command, n] : byCommand)
        std::fprintf(f, "command %d %d\n", command, n);
    for (const auto& used : {sim::usbfs::instrumentsUsed(), sim::hidraw::instrumentsUsed(node)})
        for (const std::string& serial : used)
            std::fprintf(f, "used %s\n", serial.c_str());
    std::fclose(f);
}

// The instruments attached: KXEMU_COUNT of them (1, or 2), none when the
// instrument is absent; false, with the reason, when they cannot be made.
// The hidraw node, when there is one, goes to `node`.
bool attachInstruments(UMockdevTestbed* testbed, bool hidraw, sim::hidraw::Node*& node)
{
    const char* count = std::getenv("KXEMU_COUNT");
    const int wanted = count ? std::atoi(count) : 1;
    if (wanted != 1 && wanted != 2) {
        std::fprintf(stderr, "kxemu: KXEMU_COUNT is 1 or 2, not %s\n", count);
        return false;
    }
    if (hidraw && wanted == 2) {
        std::fprintf(stderr, "kxemu: --hidraw attaches one instrument; KXEMU_COUNT=2 needs the USB emulation\n");
        return false;
    }
    for (int i = 1; sim::config().present && i <= wanted; ++i) {
        const std::string serial = "KX000" + std::to_string(i);
        if (hidraw ? !(node = sim::hidraw::create(testbed, serial)) : !sim::usbfs::addInstrument(testbed, i, serial))
            return false;
    }
    return true;
}

// Starts the program under the preload library, through which it sees the testbed.
bool startProgram(char** argv)
{
    const char* preload = std::getenv("LD_PRELOAD");
    const std::string libraries = std::string("libumockdev-preload.so.0") + (preload ? std::string(":") + preload : "");
    g_setenv("LD_PRELOAD", libraries.c_str(), TRUE);
    GError* error = nullptr;
    if (g_spawn_async(nullptr, argv, nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                               G_SPAWN_CHILD_INHERITS_STDIN),
                      nullptr, nullptr, &run.child, &error))
        return true;
    std::fprintf(stderr, "kxemu: cannot start %s: %s\n", argv[0], error->message);
    g_error_free(error);
    return false;
}

// Runs the main loop until the program ends or kxemu is told to stop.
void waitForProgram()
{
    sim::deliverInterruptsWith(signalProgram);
    run.loop = g_main_loop_new(nullptr, FALSE);
    g_child_watch_add(run.child, childEnded, &run);
    g_unix_signal_add(SIGTERM, stopped, &run);
    g_unix_signal_add(SIGINT, stopped, &run);
    g_main_loop_run(run.loop);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool hidraw = argc > 1 && std::strcmp(argv[1], "--hidraw") == 0;
    if (hidraw) {
        ++argv;
        --argc;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: kxemu [--hidraw] PROGRAM [ARGS...]\n");
        return 2;
    }
    sim::ensureConfigured();  // the KXSIM_* settings
    // The emulation runs on the real clock: the quick answers come at once,
    // so that a full download of 32,768 parts takes seconds, not minutes.
    // Behind hidraw they come 2 ms after the request: wine's HID driver can
    // hold back a report that arrives just as the program starts its read.
    for (const uint8_t quick : {sim::wire::command::identify, sim::wire::command::readLog, sim::wire::command::writeFlash})
        sim::config().answerUs[quick] = hidraw ? 2000 : 0;
    UMockdevTestbed* testbed = umockdev_testbed_new();
    sim::hidraw::Node* node = nullptr;
    const bool started = attachInstruments(testbed, hidraw, node) && startProgram(argv + 1);
    if (started) {
        waitForProgram();
        sim::deviceClosed();  // KXSIM_FLASH_OUT
        if (const char* report = std::getenv("KXEMU_REPORT"))
            writeReport(report, node);
    }
    sim::hidraw::destroy(node);
    g_object_unref(testbed);
    return started ? run.status : 2;
}
