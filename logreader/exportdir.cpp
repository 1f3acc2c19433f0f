// The export folder of a run, named after the local time to the minute.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "logreader.h"
#include "platform.h"

char folder[80] = "";

void create_timestamp_dir()
{
    char dirname[80] = "";
    std::tm timeinfo{};
    if (platform::localTime(std::time(nullptr), &timeinfo))
        std::strftime(dirname, sizeof dirname, "%Y-%m-%d_%H-%M", &timeinfo);
    if (platform::testFolderFirst && platform::exists(dirname)) {
        printf("Directory already created %s\n", dirname);
        std::memcpy(folder, dirname, sizeof folder);
        return;
    }
    if (platform::makeFolder(dirname) == 0) {
        printf(platform::dirCreatedFormat, dirname);
        std::memcpy(folder, dirname, sizeof folder);
        return;
    }
    const int reason = errno;
    perror("Directory created fail");
    // Windows reports an existing folder as a failure; it is still the folder of this run.
    if (reason == EEXIST)
        std::memcpy(folder, dirname, sizeof folder);
}
