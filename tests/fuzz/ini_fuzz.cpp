// The INI store on arbitrary text: lookups and edits driven by the input,
// each written value read back at once, then a save and a reload that must
// change no lookup.
#include "server/config/ini.h"

#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Names as the program uses them, including ones that share a prefix.
constexpr std::array<std::string_view, 5> kSections = {"Settings", "User1", "User10", "S", "Log"};
constexpr std::array<std::string_view, 5> kKeys = {"UserID", "Password", "Port", "PortX", "K"};
constexpr std::string_view kMissing = "\x01missing";

std::string Name(FuzzedDataProvider& input, const std::array<std::string_view, 5>& known) {
  if (input.ConsumeBool()) return std::string(known[input.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)]);
  return input.ConsumeRandomLengthString(16);
}

// A name the program would use: the invariants below hold only for these.
bool PlainName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// A value that cannot end its line or its section.
bool PlainValue(std::string_view value) {
  return value.find_first_of("\r\n") == std::string_view::npos && (value.empty() || value.back() != ']');
}

void CheckSaveAndReload(CIni& ini, const std::string& path) {
  std::array<std::string, kSections.size() * kKeys.size()> before;
  std::size_t i = 0;
  for (auto section : kSections) {
    for (auto key : kKeys) before[i++] = ini.GetValue(section, key, kMissing);
  }
  FUZZ_CHECK(ini.WriteToDisk());

  CIni reloaded;
  reloaded.SetFileName(path);
  FUZZ_CHECK(reloaded.Contents() == ini.Contents() + "\r\n");
  i = 0;
  for (auto section : kSections) {
    for (auto key : kKeys) {
      FUZZ_CHECK(ini.GetValue(section, key, kMissing) == before[i]);
      FUZZ_CHECK(reloaded.GetValue(section, key, kMissing) == before[i]);
      ++i;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchDir scratch;
  const std::string path = scratch.File("fuzz.ini");
  FuzzedDataProvider input(data, size);

  CIni ini;
  ::unlink(path.c_str());
  ini.SetFileName(path);
  ini.SetContents(input.ConsumeRandomLengthString(8192));

  for (int step = 0; step < 32 && input.remaining_bytes() > 0; ++step) {
    const int op = input.ConsumeIntegralInRange(0, 4);
    const std::string section = Name(input, kSections);
    const std::string key = Name(input, kKeys);
    switch (op) {
      case 0:
        ini.GetValue(section, key, kMissing);
        break;
      case 1: {
        const std::string value = input.ConsumeRandomLengthString(64);
        ini.WriteValue(section, key, value);
        if (PlainName(section) && PlainName(key) && PlainValue(value)) {
          FUZZ_CHECK(ini.GetValue(section, key, kMissing) == value);
        }
        break;
      }
      case 2:
        ini.DeleteKey(section, key);
        break;
      case 3:
        ini.DeleteSection(section);
        break;
      case 4:
        CheckSaveAndReload(ini, path);
        break;
    }
  }
  CheckSaveAndReload(ini, path);
  return 0;
}
