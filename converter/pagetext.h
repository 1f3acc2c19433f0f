// What the library's pages (a flight's page and index.html) share: their
// templates filled at named places, markup and numbers written the same way
// on every system (no number goes through the C library's own floating-point
// printing, so the pages are the same bytes on Windows and Linux), the
// figures table, and the index.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "converter.h"
#include "logbook.h"

namespace page {

// `text` with &, <, > and quotes as HTML entities: every value that comes
// from the pilot, the logbook or the settings goes through it.
std::string escaped(std::string_view text);
// The same, appended to `out`.
std::string& appendEscaped(std::string& out, std::string_view text);
// `text` as a JSON string in quotes, fit to stand inside a <script>: quotes,
// backslashes and control characters escaped, and <, > and & as \u003c...
std::string jsonString(std::string_view text);
// A number to the tenth, rounded half away from zero: "12.3", "-0.5".
std::string tenths(double value);
// A number as a reader writes it: "262", "82.5" (to the tenth, no ".0").
std::string plain(double value);
// A number with `decimals` decimals, as printf's "%.*f" writes it.
std::string decimals(double value, int decimals);
// A step of 1, 2 or 5 times a power of ten that cuts `range` into about four.
double niceStep(double range);
// The decimals that tell apart the multiples of `step` (1, 2 or 5 times a
// power of ten): 0 from 1 up, 1 for 0.1 to 0.5, 2 for 0.05...
int decimalsOf(double step);

// An element's start tag with its attributes, their values escaped; `close`
// ends it (">", or "/>" for an empty element).
struct Attribute {
    const char* name;
    std::string value;
};
std::string element(const char* name, std::initializer_list<Attribute> attributes, const char* close = ">");

// Hands `templateText` to `emit` piece by piece, each {{name}} in it
// replaced by what `place(name, emit)` emits.
using Place = std::function<void(std::string_view name, const Emit& emit)>;
void fillTemplate(std::string_view templateText, const Place& place, const Emit& emit);

// The flight's figures as the logbook row holds them, in two tables of a
// row per column, each headed by `label(column)`.
std::string figuresTables(const LogbookRow& row, const std::function<std::string(std::size_t)>& label);
// The library's index (indexpage.cpp): every flight with its figures and
// links to its page and files; the totals by month, by year and in all, of
// the library and of each aircraft; each aircraft's engine hours and next
// service; and its trends over the season. `rows` are the logbook's, in its
// order; `exists(name)` tells whether a file of the library is there.
void indexPage(const std::vector<const LogbookRow*>& rows, const std::function<bool(const std::string&)>& exists,
               const Settings& settings, const Emit& emit);

}  // namespace page
