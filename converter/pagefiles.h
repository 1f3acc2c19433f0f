// The library's page templates as the build embeds them from converter/page/
// (cmake/embed-pages.cmake): ordinary HTML with their style sheet and script
// put inline. The program fills their named places, written {{name}}.
#pragma once

#include <string_view>

namespace pagefiles {
extern const std::string_view flight;  // flight.html: a flight's page
extern const std::string_view index;   // index.html: the library's index
}  // namespace pagefiles
