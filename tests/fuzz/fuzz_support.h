// Shared pieces of the fuzzers: a loud invariant check and a scratch folder.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

// A broken invariant stops the run with the input saved as a crash.
#define FUZZ_CHECK(cond)                                                             \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      fuzz::Fail();                                                                  \
    }                                                                                \
  } while (0)

namespace fuzz {

// The scratch folder of the process, if any: removed before a failed check
// aborts, since minimising a crash runs it many times over.
inline std::filesystem::path& ScratchPath() {
  static std::filesystem::path path;
  return path;
}

[[noreturn]] inline void Fail() {
  std::error_code ec;
  if (!ScratchPath().empty()) std::filesystem::remove_all(ScratchPath(), ec);
  std::abort();
}

// A private folder for the run, removed when the process ends normally. It
// lies on /dev/shm where that exists: every save is flushed to disk, which
// on a real disk would slow the run a hundredfold.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "velto-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
    ScratchPath() = path_;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    ScratchPath().clear();
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace fuzz
