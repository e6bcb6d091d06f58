// Directory listings in the server's fixed-column format, or as bare names.
#pragma once

#include <ctime>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/fd.h"

struct stat;

namespace velto {

// One listing line (with CR LF): date and time (18 columns), size or
// "      <DIR>" (20 columns), a blank and the name.
std::string ListingLine(const std::tm& written, bool directory, std::int64_t size, std::string_view name);

// The facts of a machine listing (RFC 3659) an entry line can carry.
enum Fact : unsigned {
  kFactType = 1,
  kFactSize = 2,
  kFactModify = 4,
  kFactPerm = 8,
  kFactUnique = 16,
  kAllFacts = 31,
};

struct FactName {
  unsigned fact;
  const char* name;
};
inline constexpr FactName kFactNames[] = {
    {kFactType, "type"}, {kFactSize, "size"}, {kFactModify, "modify"}, {kFactPerm, "perm"}, {kFactUnique, "unique"},
};

// A time as machine listings and MDTM give it: "YYYYMMDDHHMMSS", in UTC.
std::string FactTime(std::time_t t);
// Reads that form (what MFMT sends); false when it is not a valid time.
bool ParseFactTime(std::string_view text, std::time_t& t);

// What a machine-listing line says about one entry: `facts` selects the
// facts; the perm fact follows the account's rights.
struct FactOptions {
  unsigned facts = kAllFacts;
  bool read = false;
  bool write = false;
};
// "type=file;size=5;...; name" and CR LF.
std::string FactsLine(const struct stat& st, const FactOptions& options, std::string_view name);

// How each entry of a listing is written.
struct ListingStyle {
  enum class Kind { Fixed, Names, Facts };
  Kind kind = Kind::Fixed;
  std::string prefix;  // before every name (the folder, as the client named it)
  std::string indent;  // before every line (a listing inside a control reply)
  FactOptions facts;   // Kind::Facts
};

// A listing produced piece by piece as it is sent, so memory stays bounded
// whatever the folder holds. Opening takes the folder's handle only; the
// entries are read as the pieces are asked for.
class ListingCursor {
 public:
  // Which names to list (all when empty).
  using NameFilter = std::function<bool(std::string_view name)>;

  // What a symbolic link in the folder is shown as: true with `st` set to
  // what it leads to; false to show the link's own facts (it dangles, or it
  // leads where the session may not look).
  using LinkFacts = std::function<bool(std::string_view name, struct stat& st)>;

  // A cursor over `folder`; nullptr when it cannot be opened.
  static std::unique_ptr<ListingCursor> OpenFolder(const std::string& folder, ListingStyle style,
                                                   NameFilter filter = {});
  // A cursor over a folder already opened (O_RDONLY | O_DIRECTORY);
  // nullptr when it cannot be read. With `linkFacts`, links are shown as it
  // says instead of as what they point to.
  static std::unique_ptr<ListingCursor> OpenFolder(platform::UniqueFd folder, ListingStyle style, NameFilter filter,
                                                   LinkFacts linkFacts);
  // A cursor that lists one entry given by its path, shown as `name`.
  static std::unique_ptr<ListingCursor> OneEntry(const std::string& path, std::string name, ListingStyle style);
  // One entry whose facts are known.
  static std::unique_ptr<ListingCursor> OneEntry(const struct stat& st, std::string name, ListingStyle style);

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

// Whether `name` matches `pattern`, where "*" stands for any run of
// characters and "?" for any one; every other character stands for itself.
bool MatchesPattern(std::string_view pattern, std::string_view name);

// The entries of `folder` (every file, and every directory whose name does
// not begin with a period) in the order the system gives them: listing
// lines, or one bare name per line. "" when the folder cannot be read or
// holds nothing. `pump` (if any) runs now and then during long listings.
std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump = {});

}  // namespace velto
