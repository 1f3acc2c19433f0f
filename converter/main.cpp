#include "converter.h"
#include "platform.h"

int main(int argc, char** argv)
{
    const int status = runConverter(argc, argv);
    // Started by a double-click on Windows: the window stays until the result is read.
    platform::waitKeyInOwnWindow("Press a key to close this window.\n");
    return status;
}
