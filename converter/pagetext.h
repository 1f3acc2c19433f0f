// The fixed parts of the library's pages (a flight's page and index.html):
// the head with its style, the tables, the cursor's script, and the text
// helpers. The numbers are formatted without the C library's floating-point
// printing, so that the pages are the same bytes on every system.
#pragma once

#include <functional>
#include <string>

#include "converter.h"
#include "logbook.h"

namespace page {

// `text` with &, <, > and quotes as HTML entities.
std::string escaped(std::string_view text);
// A number to the tenth, rounded half away from zero: "12.3", "-0.5".
std::string tenths(double value);
// The page up to the end of <head>, and the start of <body> and <main>.
std::string head(const std::string& title);
// The page's heading, and the pilot and aircraft when the settings name them.
std::string introduction(const FlightFile& target);
// The flight's figures as the logbook row holds them, a row per column.
std::string figuresTable(const LogbookRow& row);
// The cursor's read-out: the time and every value of the record under the pointer.
std::string readoutTable();
// The end of the page: the cursor's script, and the closing tags.
const char* script();
// The library's index: every flight of the logbook with its figures and
// links to its page and files, and the totals by month, by year and in all.
// `exists(name)` tells whether a file of the library is there.
void indexPage(const Logbook& book, const std::function<bool(const std::string&)>& exists, const Emit& emit);

}  // namespace page
