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

TEST(FileValue, ValuesTheEncoderCannotWriteAreClassicRawBytes) {
  EXPECT_EQ(DecodeFileValue("100%"), "100%");
  EXPECT_EQ(DecodeFileValue("%4"), "%4");
  EXPECT_EQ(DecodeFileValue("%zz%41"), "%zz%41");
  EXPECT_EQ(DecodeFileValue("%6a"), "%6a") << "the encoder writes upper-case digits only";
  EXPECT_EQ(DecodeFileValue("a b%41"), "a b%41") << "a blank is never written as it is";
  EXPECT_EQ(DecodeFileValue("\xB7%41"), "\xB7%41");
  EXPECT_EQ(DecodeFileValue("%6A%41"), "jA");
}

TEST(FileValue, ClassicCipherBytesWithoutLineBreaksReadBack) {
  // Cipher bytes written as they are: every byte value a line can hold.
  std::string classic;
  for (int i = 1; i < 256; ++i) {
    if (i != '\r' && i != '\n') classic += static_cast<char>(i);
  }
  EXPECT_EQ(DecodeFileValue(classic), classic);
}

}  // namespace
}  // namespace velto
