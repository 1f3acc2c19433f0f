// kxconvert's command line, and the settings file that holds the pilot's
// details for the IGC header.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli.h"
#include "library.h"
#include "platform.h"

namespace {

constexpr const char* helpHead =
    "Usage: kxconvert [OPTIONS] [RAW.DAT]\n"
    "Keeps a flight library: writes every flight of a KX+ log (default: raw.dat in\n"
    "the working folder) as IGC for flight-log and scoring sites, GPX for maps and\n"
    "phones, KML with time for Google Earth's replay, and a page with its barogram,\n"
    "engine charts and track; keeps a logbook of the flights (logbook.csv) with\n"
    "flight and engine time, and index.html. Convert every download into the same\n"
    "folder: a flight keeps its name, and no flight replaces another.\n"
    "Files are named YYYY-MM-DD-XXX-KXP-NN after the flight's UTC date and its number\n"
    "of that day; their times are UTC.\n"
    "\n";
constexpr const char* helpTail =
    "  -o, --output DIR       the library's folder (default: the working folder;\n"
    "                         made when missing)\n"
    "      --rebuild DIR      make every flight's files and logbook row in the\n"
    "                         library DIR again from the records it keeps\n"
    "      --check DIR        list what is wrong with the library DIR, changing\n"
    "                         nothing (exit status: see man kxconvert)\n"
    "      --pilot NAME       for the IGC header; also --aircraft TYPE,\n"
    "                         --registration REG, --competition-id ID. Without\n"
    "                         them, from the settings file (see man kxconvert)\n"
    "  -q, --quiet            no line per flight and no summary\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status: 0 all written; 1 bad usage; 2 the log could not be read, or a\n"
    "file or the logbook not written. The IGC files are not signed (no G record).\n"
    "See man kxconvert.\n";

int usageError(const char* what, const char* value)
{
    fprintf(stderr, "kxconvert: %s%s\nTry 'kxconvert --help'.\n", what, value);
    return badUsage;
}

// The help, its format line made from the table, wrapped as the other lines.
std::string helpText()
{
    std::string line = "  -f, --format LIST      formats to write, comma-separated:", text;
    std::string words = formatNames(~FormatSet{0}, ", ") + " (default " + formatNames(defaultFormats(), ",") + ")";
    for (std::size_t at = 0; at < words.size();) {
        const std::size_t end = std::min(words.find(' ', at), words.size());
        if (line.size() + 1 + (end - at) > 76) {
            text += line + "\n";
            line = std::string(24, ' ');
        }
        line += " " + words.substr(at, end - at);
        at = end + 1;
    }
    return helpHead + text + line + "\n" + helpTail;
}

// `value` without control characters, without blanks around it, and at
// most `most` bytes long.
std::string printable(const std::string& value, std::size_t most = std::string::npos)
{
    std::string out;
    for (const char c : value)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            out += c;
    const auto b = out.find_first_not_of(' ');
    const auto e = out.find_last_not_of(' ');
    return b == std::string::npos ? "" : out.substr(b, std::min(e - b + 1, most));
}

// A pilot's detail as an IGC header carries it: one line of printable text.
std::string detail(const std::string& value) { return printable(value, 80); }

enum LongOnly { PilotOption = 256, AircraftOption, RegistrationOption, CompetitionIdOption, RebuildOption, CheckOption };

}  // namespace

int parseOptions(int argc, char** argv, Options& o)
{
    if (const int status = answerHelpOrVersion(argc, argv, "kxconvert", KX_PACKAGE_VERSION, helpText().c_str());
        status >= 0)
        return status;
    static const option longOptions[] = {{"format", required_argument, nullptr, 'f'},
                                         {"output", required_argument, nullptr, 'o'},
                                         {"quiet", no_argument, nullptr, 'q'},
                                         {"pilot", required_argument, nullptr, PilotOption},
                                         {"aircraft", required_argument, nullptr, AircraftOption},
                                         {"registration", required_argument, nullptr, RegistrationOption},
                                         {"competition-id", required_argument, nullptr, CompetitionIdOption},
                                         {"rebuild", required_argument, nullptr, RebuildOption},
                                         {"check", required_argument, nullptr, CheckOption},
                                         {nullptr, 0, nullptr, 0}};
    optind = 0;  // each run reads its own command line from the start
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "f:o:q", longOptions, nullptr)) != -1;) {
        if (c == 'f' && (o.formats = 0, o.formatsGiven = true, !parseFormats(optarg, ',', o.formats)))
            return usageError(("unknown format list (" + formatNames(~FormatSet{0}, ", ") + "): ").c_str(), optarg);
        if ((c == RebuildOption || c == CheckOption) && o.mode != Mode::Convert)
            return usageError("one of --rebuild and --check at a time, not also ", argv[optind - 2]);
        if (c == RebuildOption || c == CheckOption) {
            o.mode = c == RebuildOption ? Mode::Rebuild : Mode::Check;
            o.output = optarg;
        }
        if (c == 'o')
            o.output = optarg;
        if (c == 'q')
            o.quiet = true;
        if (c == PilotOption) o.pilot.pilot = detail(optarg);
        if (c == AircraftOption) o.pilot.aircraft = detail(optarg);
        if (c == RegistrationOption) o.pilot.registration = detail(optarg);
        if (c == CompetitionIdOption) o.pilot.competitionId = detail(optarg);
        if (c == '?')
            return usageError("unknown option or missing value: ", argv[optind - 1]);
    }
    if (o.mode != Mode::Convert && argc - optind > 0)
        return usageError("--rebuild and --check read no log: ", argv[optind]);
    if (argc - optind > 1)
        return usageError("one log at most, not also ", argv[optind + 1]);
    if (argc - optind == 1)
        o.input = argv[optind];
    return -1;
}

std::string settingsPath()
{
    const std::string folder = platform::userConfigFolder();
    return folder.empty() ? "" : folder + (platform::windows ? "\\" : "/") + "kxtools" + (platform::windows ? "\\" : "/") +
                                 "kxconvert.conf";
}

void readSettings(const std::string& text, const std::string& name, PilotDetails& details)
{
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = printable(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : detail(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : detail(line.substr(equals + 1));
        std::string* field = key == "pilot" ? &details.pilot
                             : key == "aircraft" ? &details.aircraft
                             : key == "registration" ? &details.registration
                             : key == "competition-id" ? &details.competitionId
                                                       : nullptr;
        if (!field || equals == std::string::npos)
            fprintf(stderr, "kxconvert: %s line %zu is not one of pilot, aircraft, registration or competition-id "
                            "= value; it is left out.\n", name.c_str(), lineNumber);
        else if (field->empty())
            *field = value;
    }
}

void takeSettings(Options& o)
{
    const std::string path = settingsPath();
    if (path.empty() || !platform::exists(path.c_str()))
        return;
    const char* reason = "";
    std::FILE* file = platform::openRegularFile(path.c_str(), "rb", reason);
    if (!file) {
        fprintf(stderr, "kxconvert: cannot read the settings %s: %s; the IGC files name no pilot from it.\n",
                path.c_str(), reason);
        return;
    }
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() < (1u << 20);)
        text.append(chunk, n);
    std::fclose(file);
    readSettings(text, path, o.pilot);
}
