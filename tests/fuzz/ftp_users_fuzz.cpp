// The user file: an arbitrary Velto.usr loaded, the log-on check asked, and
// accounts added, removed and saved; every save must reload as the accounts
// in memory.
#include "users/ftp_users.h"

#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace {

using velto::CFTPUser;
using velto::CFTPUsers;

bool SameAccount(const CFTPUser& a, const CFTPUser& b) {
  return a.UserID == b.UserID && a.Password == b.Password && a.DefaultDirectory == b.DefaultDirectory &&
         a.AllowConcurrentLogons == b.AllowConcurrentLogons &&
         a.LimitToDefaultDirectory == b.LimitToDefaultDirectory && a.ReadAccess == b.ReadAccess &&
         a.WriteAccess == b.WriteAccess && a.LogAccess == b.LogAccess && a.UseVirtualPaths == b.UseVirtualPaths;
}

// Whether every line that ends in "]" is a section header. In any other file
// a value can end a section or hold another section's header, and an edit
// of that value moves sections about: the store's rules, not a fault.
bool HeadersOnlyEndInBrackets(std::string_view text) {
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find("\r\n", from);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(from, end - from);
    if (!line.empty() && line.back() == ']') {
      if (line.front() != '[' || line.find_first_of("[]", 1) != line.size() - 1) return false;
    }
    from = end + 2;
  }
  return true;
}

// The file's first sections hold the accounts in memory, in order. Sections
// numbered above the count are left as they are, so once a gap in the
// numbering is written over, accounts beyond it may follow. What the program
// writes never ends a line in "]" other than a header.
void CheckFileHoldsMemory(const CFTPUsers& users, const std::string& path) {
  CIni saved;
  saved.SetFileName(path);
  FUZZ_CHECK(HeadersOnlyEndInBrackets(saved.Contents()));
  CFTPUsers reloaded;
  reloaded.SetDataFile(path);
  FUZZ_CHECK(reloaded.Count() >= users.Count());
  for (std::int32_t n = 1; n <= users.Count(); ++n) {
    FUZZ_CHECK(SameAccount(reloaded.ItemByIndex(n), users.ItemByIndex(n)));
  }
}

// Whether every account can be saved. A file may hold what an update
// refuses: a lone CR or LF inside a value is a plain byte to the store.
bool AllStorable(const CFTPUsers& users) {
  for (std::int32_t n = 1; n <= users.Count(); ++n) {
    const CFTPUser& user = users.ItemByIndex(n);
    if (!CFTPUsers::StorableValue(user.UserID) || !CFTPUsers::StorableValue(user.DefaultDirectory)) return false;
  }
  return true;
}

void CheckLogons(const CFTPUsers& users) {
  for (std::int32_t n = 1; n <= users.Count(); ++n) {
    const CFTPUser& user = users.ItemByIndex(n);
    FUZZ_CHECK(users.ValidateUser(user.UserID, user.Password));
    FUZZ_CHECK(!users.ValidateUser(user.UserID, user.Password + "x"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchDir scratch;
  const std::string path = scratch.File("Velto.usr");
  FuzzedDataProvider input(data, size);

  std::ofstream(path, std::ios::binary | std::ios::trunc) << input.ConsumeRandomLengthString(8192);
  CIni asRead;  // line ends as the store reads them
  asRead.SetFileName(path);
  const bool checkFile = HeadersOnlyEndInBrackets(asRead.Contents());
  CFTPUsers users;
  users.SetDataFile(path);
  CheckLogons(users);

  for (int step = 0; step < 16 && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        const std::string id = input.ConsumeRandomLengthString(32);
        const std::string password = input.ConsumeRandomLengthString(32);
        if (users.ValidateUser(id, password)) FUZZ_CHECK(users.pExists(id));
        break;
      }
      case 1: {
        const std::string id = input.ConsumeRandomLengthString(32);
        const std::string password = input.ConsumeRandomLengthString(32);
        const std::string folder = input.ConsumeRandomLengthString(64);
        const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
        const bool existed = users.pExists(id);
        const std::int32_t count = users.Count();
        const bool added = users.pAddUser(id, password, folder, flags & 1, flags & 2, flags & 4, flags & 8,
                                          flags & 16, flags & 32);
        FUZZ_CHECK(!(added && existed));
        FUZZ_CHECK(users.Count() == count + (added ? 1 : 0));
        if (added) {
          FUZZ_CHECK(users.ValidateUser(id, password));
          FUZZ_CHECK(users.LastSaveSucceeded());
          if (checkFile) CheckFileHoldsMemory(users, path);
        }
        break;
      }
      case 2: {
        // An existing account by position, or any text.
        std::string key;
        if (users.Count() > 0 && input.ConsumeBool()) {
          key = users.ItemByIndex(input.ConsumeIntegralInRange<std::int32_t>(1, users.Count())).UserID;
        } else {
          key = input.ConsumeRandomLengthString(32);
        }
        const bool existed = users.pExists(key);
        const std::int32_t count = users.Count();
        // Refused, changing nothing, when another account holds a value
        // the file cannot; otherwise removed and saved.
        const bool saved = users.pDeleteByKey(key);
        FUZZ_CHECK(!saved || existed);
        if (existed && users.pExists(key)) {
          FUZZ_CHECK(!saved && !AllStorable(users) && users.Count() == count);
        } else if (existed) {
          FUZZ_CHECK(saved && users.Count() == count - 1);
          if (checkFile) CheckFileHoldsMemory(users, path);
        }
        break;
      }
      case 3:
        if (users.pUpdateUsers()) {
          if (checkFile) CheckFileHoldsMemory(users, path);
        } else {
          FUZZ_CHECK(!AllStorable(users));
        }
        break;
    }
  }
  CheckLogons(users);
  if (users.pUpdateUsers()) {
    if (checkFile) CheckFileHoldsMemory(users, path);
  } else {
    FUZZ_CHECK(!AllStorable(users));
  }
  return 0;
}
