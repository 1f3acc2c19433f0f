// kxconvert's command line, and the settings file that holds the pilot's
// details for the IGC header.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
    "      --pilot NAME       for the IGC header; also --competition-id ID\n"
    "      --aircraft NAME    the aircraft of the flights new to the library (its\n"
    "                         type in the IGC header); also --registration REG\n"
    "      --limit Q=N        a limit of the aircraft: rpm, t1, t2 (maxima), fuel,\n"
    "                         oat (minima); --limit t1=230 --limit rpm=7800\n"
    "      --name t1=NAME     what T1 (or t2=NAME, T2) measures: --name t1=CHT\n"
    "                         Without them, from the settings file, which keeps\n"
    "                         them per aircraft (see man kxconvert)\n"
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

enum LongOnly {
    PilotOption = 256, AircraftOption, RegistrationOption, CompetitionIdOption, RebuildOption, CheckOption, LimitOption,
    NameOption
};

// A number of the settings or the options, 0 or more ("12.5", also "12,5"); false for anything else.
bool parseNumber(std::string text, double& value)
{
    std::replace(text.begin(), text.end(), ',', '.');
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && value >= 0 && value < 1e9;
}

// "rpm=7800" into the aircraft's limits; false when it is no limit.
bool takeLimit(const std::string& text, AircraftProfile& a, std::array<bool, limitCount>* given)
{
    const std::size_t equals = text.find('=');
    const std::size_t k = limitIndex(detail(text.substr(0, equals)));
    double value = 0;
    if (equals == std::string::npos || k == limitCount || !parseNumber(detail(text.substr(equals + 1)), value))
        return false;
    a.limits[k] = value;
    if (given)
        (*given)[k] = true;
    return true;
}

// "t1=CHT" into the aircraft's names of the temperatures; false for anything else.
bool takeName(const std::string& text, AircraftProfile& a)
{
    const std::size_t equals = text.find('=');
    const std::string which = detail(text.substr(0, equals)), name = equals == std::string::npos ? "" : detail(text.substr(equals + 1));
    std::string* field = which == "t1" ? &a.t1Name : which == "t2" ? &a.t2Name : nullptr;
    if (!field || name.empty())
        return false;
    *field = name.substr(0, 24);
    return true;
}

// One line of an aircraft's section: "key = value"; false when the key is none of an aircraft's.
bool takeAircraftLine(const std::string& key, const std::string& value, AircraftProfile& a)
{
    if (key.rfind("limit ", 0) == 0)
        return takeLimit(key.substr(6) + "=" + value, a, nullptr);
    if (key.rfind("name ", 0) == 0)
        return takeName(key.substr(5) + "=" + value, a);
    if (key == "registration") {
        a.registration = value;
        return true;
    }
    double number = 0;
    const std::pair<const char*, double*> numbers[] = {{"takeoff speed", &a.takeoffSpeedKmh},
                                                       {"takeoff height", &a.takeoffHeightM},
                                                       {"engine hours before", &a.engineHoursBefore}};
    for (const auto& [name, field] : numbers)
        if (key == name)
            return parseNumber(value, *field);
    if ((key == "service at" || key == "service every") && parseNumber(value, number)) {
        (key == "service at" ? a.serviceAt : a.serviceEvery) = number;
        return true;
    }
    return false;
}

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
                                         {"limit", required_argument, nullptr, LimitOption},
                                         {"name", required_argument, nullptr, NameOption},
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
        PilotDetails& p = o.settings.pilot;
        if (c == PilotOption) p.pilot = detail(optarg);
        if (c == AircraftOption) p.aircraft = detail(optarg);
        if (c == RegistrationOption) o.settings.runAircraft.registration = detail(optarg);
        if (c == CompetitionIdOption) p.competitionId = detail(optarg);
        if (c == LimitOption && !takeLimit(optarg, o.settings.runAircraft, &o.settings.limitGiven))
            return usageError("a limit is QUANTITY=NUMBER, the quantity one of rpm, t1, t2, fuel, oat: ", optarg);
        if (c == NameOption && !takeName(optarg, o.settings.runAircraft))
            return usageError("a name is t1=NAME or t2=NAME: ", optarg);
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

void readSettings(const std::string& text, const std::string& name, Settings& settings)
{
    PilotDetails& details = settings.pilot;
    std::size_t lineNumber = 0;
    AircraftProfile* section = nullptr;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = printable(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']' && !detail(line.substr(1, line.size() - 2)).empty()) {
            const std::string aircraft = detail(line.substr(1, line.size() - 2));
            section = &settings.aircraft[aircraft];
            section->name = aircraft;
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : detail(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : detail(line.substr(equals + 1));
        std::string* field = section              ? nullptr
                             : key == "pilot"        ? &details.pilot
                             : key == "aircraft"     ? &details.aircraft
                             : key == "registration" ? &details.registration
                             : key == "competition-id" ? &details.competitionId
                                                       : nullptr;
        if (equals != std::string::npos && field) {
            if (field->empty())
                *field = value;
        } else if (equals == std::string::npos || !section || !takeAircraftLine(key, value, *section)) {
            fprintf(stderr, "kxconvert: %s line %zu is not one of pilot, aircraft, registration or competition-id "
                            "= value, nor, in an aircraft's [section], a limit, name, takeoff, engine hours or "
                            "service line (see man kxconvert); it is left out.\n", name.c_str(), lineNumber);
        }
    }
}

AircraftProfile Settings::profileOf(const std::string& name) const
{
    const auto it = aircraft.find(name);
    AircraftProfile p = it != aircraft.end() ? it->second : AircraftProfile{};
    p.name = name;
    if (name != pilot.aircraft)
        return p;
    // The run's aircraft: the options over its section, the general registration where neither gives one.
    p.registration = !runAircraft.registration.empty() ? runAircraft.registration
                     : !p.registration.empty()        ? p.registration
                                                      : pilot.registration;
    for (std::size_t k = 0; k < limitCount; ++k)
        if (limitGiven[k])
            p.limits[k] = runAircraft.limits[k];
    p.t1Name = runAircraft.t1Name.empty() ? p.t1Name : runAircraft.t1Name;
    p.t2Name = runAircraft.t2Name.empty() ? p.t2Name : runAircraft.t2Name;
    return p;
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
    readSettings(text, path, o.settings);
}
