#include "users/file_value.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(FileValue, PrintableTextIsWrittenAsItIs) {
  EXPECT_EQ(EncodeFileValue("Abc=[x];#\"'\\~!"), "Abc=[x];#\"'\\~!");
  EXPECT_EQ(EncodeFileValue(""), "");
}

TEST(FileValue, LineBreaksControlsBlanksPercentAndHighBytesAreEscaped) {
  EXPECT_EQ(EncodeFileValue(std::string("a\r\nb\0c", 6)), "a%0D%0Ab%00c");
  EXPECT_EQ(EncodeFileValue(" %\x7F\xFF\x80"), "%20%25%7F%FF%80");
}

TEST(FileValue, RoundTripsEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string stored = EncodeFileValue(all);
  EXPECT_EQ(stored.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
  EXPECT_EQ(DecodeFileValue(stored), all);
}

TEST(FileValue, MalformedEscapesAreKept) {
  EXPECT_EQ(DecodeFileValue("100%"), "100%");
  EXPECT_EQ(DecodeFileValue("%4"), "%4");
  EXPECT_EQ(DecodeFileValue("%zz%41"), "%zzA");
  EXPECT_EQ(DecodeFileValue("%6a"), "j");
}

}  // namespace
}  // namespace velto
