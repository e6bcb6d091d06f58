// Directory listings in the server's fixed-column format, or as bare names.
#pragma once

#include <ctime>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velto {

// One listing line (with CR LF): date and time (18 columns), size or
// "      <DIR>" (20 columns), a blank and the name.
std::string ListingLine(const std::tm& written, bool directory, std::int64_t size, std::string_view name);

// The entries of `folder` (every file, and every directory whose name does
// not begin with a period) in the order the system gives them: listing
// lines, or one bare name per line. "" when the folder cannot be read or
// holds nothing. `pump` (if any) runs now and then during long listings.
std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump = {});

}  // namespace velto
