#include "log/clog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velto {
namespace {

namespace fs = std::filesystem;

class CLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velto-log-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
};

TEST_F(CLogTest, FirstWriteCreatesTheFileAndEntriesEndInCrLf) {
  const fs::path file = dir_ / "Access.log";
  CLog log;
  log.SetLogFile(file.string());
  EXPECT_EQ(log.LogFile(), file.string());
  EXPECT_FALSE(fs::exists(file)) << "setting the path alone must not create the file";
  EXPECT_TRUE(log.LogData("first"));
  EXPECT_TRUE(log.LogData("second"));
  EXPECT_EQ(Read(file), "first\r\nsecond\r\n");
}

TEST_F(CLogTest, AppendsToWhatAPreviousRunWrote) {
  const fs::path file = dir_ / "Errors.log";
  {
    std::ofstream(file, std::ios::binary) << "old line\r\n";
  }
  {
    CLog log;
    log.SetLogFile(file.string());
    EXPECT_TRUE(log.LogData("run two"));
  }
  CLog again;
  again.SetLogFile(file.string());
  EXPECT_TRUE(again.LogData("run three"));
  EXPECT_EQ(Read(file), "old line\r\nrun two\r\nrun three\r\n");
}

TEST_F(CLogTest, UnopenableFileLosesLinesAndIsRetried) {
  const fs::path folder = dir_ / "missing";
  const fs::path file = folder / "Access.log";
  CLog log;
  log.SetLogFile(file.string());
  EXPECT_FALSE(log.LogData("lost"));
  EXPECT_FALSE(fs::exists(file));

  fs::create_directory(folder);
  EXPECT_TRUE(log.LogData("kept"));
  EXPECT_EQ(Read(file), "kept\r\n");
}

TEST_F(CLogTest, ReopenFollowsARotationAndKeepsTheOldFileWhenThePathCannotBeOpened) {
  const fs::path file = dir_ / "Access.log";
  const fs::path rotated = dir_ / "Access.log.1";
  CLog log;
  log.SetLogFile(file.string());
  EXPECT_EQ(log.Reopen(), 0) << "nothing open yet";
  EXPECT_TRUE(log.LogData("one"));
  fs::rename(file, rotated);
  EXPECT_EQ(log.Reopen(), 0);
  EXPECT_TRUE(log.LogData("two"));
  EXPECT_EQ(Read(rotated), "one\r\n");
  EXPECT_EQ(Read(file), "two\r\n");

  fs::rename(file, rotated);
  fs::create_directory(file);  // the path cannot be opened for writing
  EXPECT_EQ(log.Reopen(), EISDIR);
  EXPECT_TRUE(log.LogData("three"));
  EXPECT_EQ(Read(rotated), "two\r\nthree\r\n");
}

TEST_F(CLogTest, NoPathWritesNothing) {
  CLog log;
  EXPECT_FALSE(log.LogData("nowhere"));
}

TEST_F(CLogTest, ChangingThePathMovesLaterEntries) {
  CLog log;
  log.SetLogFile((dir_ / "a.log").string());
  EXPECT_TRUE(log.LogData("to a"));
  log.SetLogFile((dir_ / "b.log").string());
  EXPECT_TRUE(log.LogData("to b"));
  EXPECT_EQ(Read(dir_ / "a.log"), "to a\r\n");
  EXPECT_EQ(Read(dir_ / "b.log"), "to b\r\n");
}

TEST_F(CLogTest, EventSourceNeedsAName) {
  CLog log;
  EXPECT_EQ(log.LogMode, CLog::kModeFile);
  EXPECT_FALSE(log.LogEventNTInitialize(""));
  EXPECT_EQ(log.NTEventAppName(), "");
  EXPECT_TRUE(log.LogEventNTInitialize("velto-test"));
  EXPECT_EQ(log.NTEventAppName(), "velto-test");
}

}  // namespace
}  // namespace velto
