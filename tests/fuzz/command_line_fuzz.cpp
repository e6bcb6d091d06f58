// The control connection's byte path: the framer fed in fuzz-chosen chunks,
// every completed line through the parser.
#include "ftp/command_line.h"

#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using velto::ControlLineFramer;

void CheckLine(const ControlLineFramer::Line& line) {
  if (line.tooLong) {
    FUZZ_CHECK(line.text.empty());
    return;
  }
  FUZZ_CHECK(!line.text.empty() && line.text.back() == '\n');
  FUZZ_CHECK(line.text.size() <= ControlLineFramer::kMaxLine + 1);
  FUZZ_CHECK(line.text.find('\n') == line.text.size() - 1);

  const velto::ParsedCommand parsed = velto::ParseCommand(line.text);
  FUZZ_CHECK(parsed.verb.size() <= 4);
  for (char c : parsed.verb) FUZZ_CHECK(!std::islower(static_cast<unsigned char>(c)));
  FUZZ_CHECK(parsed.verb.empty() || (parsed.verb.front() != ' ' && parsed.verb.back() != ' '));
  FUZZ_CHECK(parsed.argument.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  FUZZ_CHECK(parsed.argument.size() < line.text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  ControlLineFramer chunked;
  std::string stream;
  std::vector<ControlLineFramer::Line> lines;

  // Chunk lengths come from the end of the input, the bytes from the front;
  // a chunk can also be one byte repeated, so over-long lines are cheap.
  while (input.remaining_bytes() > 0) {
    const bool run = input.ConsumeBool();
    const auto length = input.ConsumeIntegralInRange<std::size_t>(0, 2 * ControlLineFramer::kMaxLine);
    const std::string chunk =
        run ? std::string(length, static_cast<char>(input.ConsumeIntegral<std::uint8_t>()))
            : input.ConsumeBytesAsString(length);
    stream += chunk;
    for (auto& line : chunked.Feed(chunk)) {
      CheckLine(line);
      lines.push_back(std::move(line));
    }
    FUZZ_CHECK(chunked.Pending() <= ControlLineFramer::kMaxLine);
  }

  // How the bytes were split must not matter.
  ControlLineFramer whole;
  const std::vector<ControlLineFramer::Line> once = whole.Feed(stream);
  FUZZ_CHECK(once.size() == lines.size());
  for (std::size_t i = 0; i < once.size(); ++i) {
    FUZZ_CHECK(once[i].text == lines[i].text && once[i].tooLong == lines[i].tooLong);
  }
  FUZZ_CHECK(whole.Pending() == chunked.Pending());
  return 0;
}
