#include "fuzzsupport.h"

#include <cstdio>

namespace fuzz {
namespace {
std::filesystem::path parent;
std::filesystem::path work;
}  // namespace

void enterWorkFolder()
{
    char pattern[] = "/tmp/kxfuzz-XXXXXX";
    parent = mkdtemp(pattern);
    work = parent / "work";
    std::filesystem::create_directory(work);
    std::filesystem::current_path(work);
    std::freopen("/dev/null", "w", stdout);
}

void emptyWorkFolder()
{
    for (const auto& entry : std::filesystem::directory_iterator(work))
        std::filesystem::remove_all(entry.path());
}

bool parentUntouched()
{
    for (const auto& entry : std::filesystem::directory_iterator(parent))
        if (entry.path() != work)
            return false;
    return true;
}

}  // namespace fuzz

// Every target works in a folder of its own, in UTC.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "UTC0", 1);
    fuzz::enterWorkFolder();
    return 0;
}
