// Directory listings in the server's fixed-column format, or as bare names.
#pragma once

#include <ctime>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velto {

// One listing line (with CR LF): date and time (18 columns), size or
// "      <DIR>" (20 columns), a blank and the name.
std::string ListingLine(const std::tm& written, bool directory, std::int64_t size, std::string_view name);

// A listing produced piece by piece as it is sent, so memory stays bounded
// whatever the folder holds. Opening takes the folder's handle only; the
// entries are read as the pieces are asked for.
class ListingCursor {
 public:
  // Which names to list (all when empty).
  using NameFilter = std::function<bool(std::string_view name)>;

  // A cursor over `folder`; nullptr when it cannot be opened.
  static std::unique_ptr<ListingCursor> OpenFolder(const std::string& folder, bool namesOnly,
                                                   NameFilter filter = {});
  // A cursor that lists one entry given by its path, shown as `name`.
  static std::unique_ptr<ListingCursor> OneEntry(const std::string& path, std::string name, bool namesOnly);

  // Only the factories can make the state.
  struct State;
  explicit ListingCursor(std::unique_ptr<State> state);
  ~ListingCursor();
  ListingCursor(const ListingCursor&) = delete;
  ListingCursor& operator=(const ListingCursor&) = delete;

  // Appends lines to `out` until it holds at least `budget` bytes or the
  // listing ends; false once everything has been produced.
  bool Next(std::string& out, std::size_t budget);

 private:
  std::unique_ptr<State> state_;
};

// The entries of `folder` (every file, and every directory whose name does
// not begin with a period) in the order the system gives them: listing
// lines, or one bare name per line. "" when the folder cannot be read or
// holds nothing. `pump` (if any) runs now and then during long listings.
std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump = {});

}  // namespace velto
