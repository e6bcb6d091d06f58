// Loading and saving INI files: the exact bytes on disk and the crash-safe
// replacement of the old file.
#include "config/ini.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "velto-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  fs::path dir_;
};

TEST_F(IniFileTest, LoadsEveryByteAndMissingFilesReadEmpty) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string text = "[S]\r\nK=" + all + "\r\n[T]\nbare=lf\n\0tail"s;
  const std::string path = PathOf("Velto.ini");
  WriteFile(path, text);

  CIni ini;
  ini.SetFileName(path);
  EXPECT_EQ(ini.FileName(), path);
  EXPECT_EQ(ini.Contents(), text);
  // The 256 byte values in order hold no CR LF pair, so the value is all of them.
  EXPECT_EQ(ini.GetValue("S", "K"), all);
  EXPECT_EQ(ini.GetValue("T", "bare", "d"), "d");

  // Loading another name replaces everything, and a missing file is empty.
  ini.SetFileName(PathOf("absent.ini"));
  EXPECT_EQ(ini.Contents(), "");
  EXPECT_EQ(ini.GetValue("S", "K", "d"), "d");

  // A folder is not a readable file.
  ini.SetFileName(dir_.string());
  EXPECT_EQ(ini.Contents(), "");
}

TEST_F(IniFileTest, FileWithLineFeedsOnlyReadsAsCrLf) {
  WriteFile(PathOf("Velto.ini"), "[FTP Settings]\nFTPPort=2121\nBannerExit=Bye\n");
  CIni ini;
  ini.SetFileName(PathOf("Velto.ini"));
  EXPECT_EQ(ini.GetValue("FTP Settings", "FTPPort"), "2121");
  ini.WriteValue("FTP Settings", "FTPPort", "21");
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ReadFile(PathOf("Velto.ini")), "[FTP Settings]\r\nFTPPort=21\r\nBannerExit=Bye\r\n\r\n");
}

TEST_F(IniFileTest, OneKeyOnAnEmptyStoreSavesFourLines) {
  const std::string path = PathOf("Velto.ini");
  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("S", "K", "V");
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ReadFile(path), "\r\n[S]\r\nK=V\r\n\r\n");
  // The line break is added on the way to disk only.
  EXPECT_EQ(ini.Contents(), "\r\n[S]\r\nK=V\r\n");
}

TEST_F(IniFileTest, SaveCollapsesTripleLineBreaksInOnePass) {
  const std::string path = PathOf("Velto.ini");
  CIni ini;
  ini.SetFileName(path);
  ini.SetContents("a\r\n\r\n\r\nb\r\n\r\n\r\n\r\nc\r\n\r\n\r\n\r\n\r\n\r\nd\r\r\n\n");
  ASSERT_TRUE(ini.WriteToDisk());
  const std::string collapsed = "a\r\n\r\nb\r\n\r\n\r\nc\r\n\r\n\r\n\r\nd\r\r\n\n";
  EXPECT_EQ(ini.Contents(), collapsed);
  EXPECT_EQ(ReadFile(path), collapsed + "\r\n");
}

TEST_F(IniFileTest, RepeatedLoadAndSaveKeepsAStableTail) {
  const std::string path = PathOf("Velto.ini");
  WriteFile(path, "[S]\r\nK=V\r\n");
  for (int run = 0; run < 6; ++run) {
    CIni ini;
    ini.SetFileName(path);
    ini.WriteValue("S", "K", "V");
    ASSERT_TRUE(ini.WriteToDisk());
    // Saving the same object again changes nothing either.
    ASSERT_TRUE(ini.WriteToDisk());
  }
  EXPECT_EQ(ReadFile(path), "[S]\r\nK=V\r\n\r\n\r\n");
}

TEST_F(IniFileTest, EditsKeepCommentsAndUnknownLines) {
  const std::string path = PathOf("Velto.ini");
  WriteFile(path, "; hand-written\r\n[Settings]\r\nChunkSize=512\r\nodd line\r\n\r\n[FTP Settings]\r\nFTPPort=21");
  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("Settings", "ChunkSize", "4096");
  ini.WriteValue("FTP Settings", "FTPPort", "2121", /*writeToDisk=*/true);
  EXPECT_EQ(ReadFile(path),
            "; hand-written\r\n[Settings]\r\nChunkSize=4096\r\nodd line\r\n\r\n[FTP Settings]\r\nFTPPort=2121\r\n");

  ini.DeleteKey("Settings", "ChunkSize", true);
  EXPECT_EQ(ReadFile(path), "; hand-written\r\n[Settings]\r\nodd line\r\n\r\n[FTP Settings]\r\nFTPPort=2121\r\n");
  ini.DeleteSection("FTP Settings", true);
  EXPECT_EQ(ReadFile(path), "; hand-written\r\n[Settings]\r\nodd line\r\n\r\n\r\n");
}

TEST_F(IniFileTest, SaveLeavesNoTemporaryFiles) {
  const std::string path = PathOf("Velto.ini");
  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("S", "K", "V");
  ASSERT_TRUE(ini.WriteToDisk());
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(Entries(), std::vector<std::string>{"Velto.ini"});
}

TEST_F(IniFileTest, PermissionsAreKeptOrChosenByKindOfFile) {
  const std::string settings = PathOf("Velto.ini");
  const std::string users = PathOf("Velto.usr");
  CIni ini;
  ini.SetFileName(settings);
  ini.WriteValue("S", "K", "V");
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ModeOf(settings), 0644u);

  CIni accounts;
  accounts.SetFileName(users);
  accounts.WriteValue("User1", "UserID", "anna");
  ASSERT_TRUE(accounts.WriteToDisk());
  EXPECT_EQ(ModeOf(users), 0600u);

  ASSERT_EQ(::chmod(settings.c_str(), 0640), 0);
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ModeOf(settings), 0640u);
}

TEST_F(IniFileTest, SaveThroughASymbolicLinkUpdatesItsTarget) {
  const std::string real = PathOf("real.ini");
  const std::string link = PathOf("Velto.ini");
  WriteFile(real, "[S]\r\nK=old\r\n");
  ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);

  CIni ini;
  ini.SetFileName(link);
  ini.WriteValue("S", "K", "new", true);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[S]\r\nK=new\r\n\r\n");
}

TEST_F(IniFileTest, FailedSaveLeavesTheOldFileIntact_FullDisk) {
  const std::string path = PathOf("Velto.ini");
  const std::string old = "[S]\r\nK=old\r\n";
  WriteFile(path, old);

  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("S", "K", std::string(64 * 1024, 'x'));

  // A file size limit makes the write fail the way a full disk does, for
  // privileged users too.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool savedOk = ini.WriteToDisk();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(savedOk);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Velto.ini"});
  // The edit is still in memory and reaches the disk once it can.
  EXPECT_EQ(ini.GetValue("S", "K").size(), 64u * 1024u);
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ReadFile(path).size(), ini.Contents().size() + 2);
}

TEST_F(IniFileTest, FailedSaveLeavesTheOldFileIntact_UnwritableFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind a privileged user";
  const std::string path = PathOf("Velto.ini");
  const std::string old = "[S]\r\nK=old\r\n";
  WriteFile(path, old);
  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("S", "K", "new");
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  EXPECT_FALSE(ini.WriteToDisk());
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Velto.ini"});
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
  // Write permission on the folder would let a rename replace the file; a
  // read-only file must stay as unwritable as it would be rewritten in place.
  if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind a privileged user";
  const std::string path = PathOf("Velto.ini");
  const std::string old = "[S]\r\nK=old\r\n";
  WriteFile(path, old);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  CIni ini;
  ini.SetFileName(path);
  ini.WriteValue("S", "K", "new");
  EXPECT_FALSE(ini.WriteToDisk());
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(ModeOf(path), 0444u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Velto.ini"});
}

TEST_F(IniFileTest, SaveRefusesWhatIsNotARegularFile) {
  CIni missingFolder;
  missingFolder.SetFileName(PathOf("no/such/folder/Velto.ini"));
  missingFolder.WriteValue("S", "K", "V");
  EXPECT_FALSE(missingFolder.WriteToDisk());

  const std::string folder = PathOf("Velto.ini");
  ASSERT_TRUE(fs::create_directory(folder));
  CIni onFolder;
  onFolder.SetFileName(folder);
  onFolder.WriteValue("S", "K", "V");
  EXPECT_FALSE(onFolder.WriteToDisk());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(Entries(), std::vector<std::string>{"Velto.ini"});
}

TEST_F(IniFileTest, MegabytesOfJunkLoadAndSaveByteForByte) {
  std::string junk;
  junk.reserve(3 << 20);
  unsigned state = 12345;
  for (int i = 0; i < (3 << 20); ++i) {
    state = state * 1103515245u + 12345u;
    junk.push_back(static_cast<char>(state >> 16));
  }
  // Keep the test about loading: no triple line breaks for the save to fold.
  for (std::size_t at = junk.find("\r\n\r\n\r\n"); at != std::string::npos; at = junk.find("\r\n\r\n\r\n", at)) {
    junk[at] = 'x';
  }
  const std::string path = PathOf("Velto.ini");
  WriteFile(path, junk);

  CIni ini;
  ini.SetFileName(path);
  ASSERT_EQ(ini.Contents(), junk);
  EXPECT_EQ(ini.GetValue("FTP Settings", "FTPPort", "21"), "21");
  ASSERT_TRUE(ini.WriteToDisk());
  EXPECT_EQ(ReadFile(path), junk + "\r\n");
}

}  // namespace
