#include "ftp/listing.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::tm At(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return t;
}

TEST(ListingLine, FixedColumns) {
  EXPECT_EQ(velto::ListingLine(At(2001, 8, 21, 2, 36), false, 1234, "readme.txt"),
            "08-21-01  02:36AM " + std::string(16, ' ') + "1234 readme.txt\r\n");
  EXPECT_EQ(velto::ListingLine(At(2019, 12, 31, 13, 5), true, 4096, "pub"),
            "12-31-19  01:05PM       <DIR>" + std::string(10, ' ') + "pub\r\n");
  // Midnight and noon on the 12-hour clock.
  EXPECT_EQ(velto::ListingLine(At(2020, 1, 2, 0, 5), false, 0, "a").substr(0, 18), "01-02-20  12:05AM ");
  EXPECT_EQ(velto::ListingLine(At(2020, 1, 2, 12, 5), false, 0, "a").substr(0, 18), "01-02-20  12:05PM ");
  // Sizes over 2 GiB keep every digit.
  EXPECT_EQ(velto::ListingLine(At(2020, 1, 2, 12, 5), false, 3000000000LL, "big").substr(18),
            "          3000000000 big\r\n");
}

TEST(ListFolder, EntriesAndDotDirectories) {
  char pattern[] = "/tmp/velto-list-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::ofstream(dir + "/file.txt") << "12345";
  std::ofstream(dir + "/.profile") << "x";
  ::mkdir((dir + "/sub").c_str(), 0755);
  ::mkdir((dir + "/.git").c_str(), 0755);

  std::istringstream names(velto::ListFolder(dir, true));
  std::set<std::string> seen;
  for (std::string line; std::getline(names, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    seen.insert(line.substr(0, line.size() - 1));
  }
  EXPECT_EQ(seen, (std::set<std::string>{"file.txt", ".profile", "sub"}));
  const std::string listing = velto::ListFolder(dir, false);
  EXPECT_NE(listing.find("                   5 file.txt\r\n"), std::string::npos);
  EXPECT_NE(listing.find("      <DIR>" + std::string(10, ' ') + "sub\r\n"), std::string::npos);
  EXPECT_EQ(velto::ListFolder(dir + "/missing", false), "");

  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
