// The arguments every well-kept command-line tool answers: --help (or -h) and
// --version. They are answered before anything else: no device is opened and
// no file written.
#pragma once

#include <cstdio>
#include <cstring>

#ifndef KX_PACKAGE_VERSION
#define KX_PACKAGE_VERSION "unknown"
#endif

// When argv[1] is -h, --help or --version, prints `help`, or the version
// line of `program` with its own version and the package's, and gives the exit
// status 0; otherwise -1 and nothing is printed.
inline int answerHelpOrVersion(int argc, char** argv, const char* program, const char* version, const char* help)
{
    if (argc < 2)
        return -1;
    const char* word = argv[1];
    if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0)
        std::fputs(help, stdout);
    else if (std::strcmp(word, "--version") == 0)
        std::printf("%s %s (kxtools %s)\n", program, version, KX_PACKAGE_VERSION);
    else
        return -1;
    std::fflush(stdout);
    return 0;
}
