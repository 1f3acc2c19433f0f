// kxconvert stopped or interrupted at a chosen file operation, for the
// library's crash tests (check_crashes.py), as SQLite's tests crash at each
// I/O of a transaction:
//   kxcrashrun count ARGS...        the whole run; the number of operations on standard error
//   kxcrashrun stop N ARGS...       the process ends at once before its N-th operation, as when killed
//   kxcrashrun interrupt N ARGS...  Ctrl-C (SIGINT) arrives before its N-th operation
// ARGS are kxconvert's.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "converter.h"
#include "platform.h"

namespace {

enum class Act { Count, Stop, Interrupt };
Act act = Act::Count;
unsigned long at = 0, seen = 0;

void onFileChange(const char*, const char*)
{
    if (++seen != at)
        return;
    if (act == Act::Stop)
        std::_Exit(137);
    std::raise(SIGINT);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || (std::strcmp(argv[1], "count") != 0 && argc < 3)) {
        std::fprintf(stderr, "usage: kxcrashrun count|stop N|interrupt N [kxconvert's arguments]\n");
        return 2;
    }
    const std::string what = argv[1];
    act = what == "stop" ? Act::Stop : what == "interrupt" ? Act::Interrupt : Act::Count;
    const int skip = act == Act::Count ? 1 : 2;
    at = act == Act::Count ? 0 : std::strtoul(argv[2], nullptr, 10);
    platform::beforeFileChange = onFileChange;
    argv[skip] = const_cast<char*>("kxconvert");
    const int status = runConverter(argc - skip, argv + skip);
    if (act == Act::Count)
        std::fprintf(stderr, "file operations: %lu\n", seen);
    return status;
}
