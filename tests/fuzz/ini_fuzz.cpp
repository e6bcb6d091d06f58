// The INI store on arbitrary text: lookups and edits driven by the input.
// Every lookup must match a plain search by the documented rules (the store
// answers through an index), each written value must read back at once, the
// batch edits must agree with their one-by-one forms, and a save and reload
// must change no lookup.
#include "config/ini.h"

#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Names as the program uses them, including ones that share a prefix.
constexpr std::array<std::string_view, 5> kSections = {"Settings", "User1", "User10", "S", "Log"};
constexpr std::array<std::string_view, 5> kKeys = {"UserID", "Password", "Port", "PortX", "K"};
constexpr std::string_view kMissing = "\x01missing";

std::string Name(FuzzedDataProvider& input, const std::array<std::string_view, 5>& known) {
  if (input.ConsumeBool()) return std::string(known[input.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)]);
  return input.ConsumeRandomLengthString(16);
}

// A name the program would use: the read-back invariants hold only for these.
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

// The lookup rules as written, by searching the text from its start.
std::string PlainLookup(const std::string& text, std::string_view section, std::string_view key) {
  const std::string header = "[" + std::string(section) + "]\r\n";
  const std::size_t at = text.find(header);
  if (at == std::string::npos) return std::string(kMissing);
  std::size_t end = text.find("]\r\n", at + header.size());
  if (end == std::string::npos) end = text.size();
  const std::size_t found = text.find("\r\n" + std::string(key) + "=", at);
  if (found == std::string::npos || found + 2 >= end) return std::string(kMissing);
  const std::size_t value = found + 2 + key.size() + 1;
  std::size_t lineEnd = text.find("\r\n", value);
  if (lineEnd == std::string::npos) lineEnd = text.size();
  return text.substr(value, lineEnd - value);
}

void CheckLookup(const CIni& ini, std::string_view section, std::string_view key) {
  FUZZ_CHECK(ini.GetValue(section, key, kMissing) == PlainLookup(ini.Contents(), section, key));
}

void CheckAllLookups(const CIni& ini) {
  for (auto section : kSections) {
    for (auto key : kKeys) CheckLookup(ini, section, key);
  }
}

bool SameLookups(const CIni& a, const CIni& b) {
  for (auto section : kSections) {
    for (auto key : kKeys) {
      if (a.GetValue(section, key, kMissing) != b.GetValue(section, key, kMissing)) return false;
    }
  }
  return true;
}

CIni Copy(const CIni& ini) {
  CIni copy;
  copy.SetContents(ini.Contents());
  return copy;
}

void CheckSaveAndReload(CIni& ini, const std::string& path) {
  const CIni before = Copy(ini);
  FUZZ_CHECK(ini.WriteToDisk());
  CIni reloaded;
  reloaded.SetFileName(path);
  FUZZ_CHECK(reloaded.Contents() == ini.Contents() + "\r\n");
  FUZZ_CHECK(SameLookups(ini, before));
  FUZZ_CHECK(SameLookups(reloaded, before));
}

void WriteSections(CIni& ini, FuzzedDataProvider& input) {
  std::vector<CIni::SectionValues> sections(input.ConsumeIntegralInRange(1, 4));
  bool plain = true;
  for (auto& entry : sections) {
    entry.section = Name(input, kSections);
    plain = plain && PlainName(entry.section);
    const int keys = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < keys; ++i) {
      entry.values.emplace_back(Name(input, kKeys), input.ConsumeRandomLengthString(32));
      plain = plain && PlainName(entry.values.back().first) && PlainValue(entry.values.back().second);
    }
  }
  CIni oneByOne = Copy(ini);
  for (const auto& entry : sections) {
    for (const auto& [key, value] : entry.values) oneByOne.WriteValue(entry.section, key, value);
  }
  ini.WriteSections(sections);
  if (!plain) return;
  FUZZ_CHECK(SameLookups(ini, oneByOne));
  for (const auto& entry : sections) {
    for (const auto& [key, value] : entry.values) {
      FUZZ_CHECK(ini.GetValue(entry.section, key, kMissing) == oneByOne.GetValue(entry.section, key, kMissing));
    }
  }
}

void DeleteSections(CIni& ini, FuzzedDataProvider& input) {
  std::vector<std::string> names(input.ConsumeIntegralInRange(1, 4));
  for (auto& name : names) name = Name(input, kSections);
  CIni oneByOne = Copy(ini);
  for (const auto& name : names) oneByOne.DeleteSection(name);
  ini.DeleteSections(names);
  FUZZ_CHECK(SameLookups(ini, oneByOne));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchDir scratch;
  const std::string path = scratch.File("fuzz.ini");
  FuzzedDataProvider input(data, size);

  const bool fromFile = input.ConsumeBool();
  const std::string text = input.ConsumeRandomLengthString(8192);
  CIni ini;
  if (fromFile) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ini.SetFileName(path);
  } else {
    ::unlink(path.c_str());
    ini.SetFileName(path);
    ini.SetContents(text);
  }
  CheckAllLookups(ini);

  for (int step = 0; step < 32 && input.remaining_bytes() > 0; ++step) {
    const int op = input.ConsumeIntegralInRange(0, 6);
    if (op == 4) {
      CheckSaveAndReload(ini, path);
      continue;
    }
    if (op == 5) {
      WriteSections(ini, input);
      continue;
    }
    if (op == 6) {
      DeleteSections(ini, input);
      continue;
    }
    const std::string section = Name(input, kSections);
    const std::string key = Name(input, kKeys);
    if (op == 1) {
      const std::string value = input.ConsumeRandomLengthString(64);
      ini.WriteValue(section, key, value);
      if (PlainName(section) && PlainName(key) && PlainValue(value)) {
        FUZZ_CHECK(ini.GetValue(section, key, kMissing) == value);
      }
    } else if (op == 2) {
      ini.DeleteKey(section, key);
    } else if (op == 3) {
      ini.DeleteSection(section);
    }
    CheckLookup(ini, section, key);
  }
  CheckAllLookups(ini);
  CheckSaveAndReload(ini, path);
  return 0;
}
