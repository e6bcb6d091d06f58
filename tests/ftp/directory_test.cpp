#include "ftp/directory.h"
#include "ftp/file_info.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace velto {
namespace {

using test::TempTree;
using Paths = std::vector<std::string>;

TEST(DirectoryNormalize, ResolvesDotsAndCollapsesSeparators) {
  EXPECT_EQ(CDirectory::Normalize("/srv/ftp/bob/../../../etc"), "/etc");
  EXPECT_EQ(CDirectory::Normalize("/srv/ftp/bob/../alice/"), "/srv/ftp/alice");
  EXPECT_EQ(CDirectory::Normalize("/a/./b/."), "/a/b");
  EXPECT_EQ(CDirectory::Normalize("/../../.."), "/");
  EXPECT_EQ(CDirectory::Normalize("/"), "/");
  EXPECT_EQ(CDirectory::Normalize(""), "/");
  // A run of separators is one separator, never nothing.
  EXPECT_EQ(CDirectory::Normalize("/a//b"), "/a/b");
  EXPECT_EQ(CDirectory::Normalize("//a///b//"), "/a/b");
  // A client's backslash is a separator.
  EXPECT_EQ(CDirectory::Normalize("\\a\\..\\b\\\\c"), "/b/c");
  // Relative texts are taken from the root.
  EXPECT_EQ(CDirectory::Normalize("a/b/../c"), "/a/c");
}

TEST(DirectoryNormalize, KeepsNamesAsTheyAre) {
  EXPECT_EQ(CDirectory::Normalize("/a/.../b"), "/a/.../b");
  EXPECT_EQ(CDirectory::Normalize("/a/..b/c.."), "/a/..b/c..");
  EXPECT_EQ(CDirectory::Normalize("/a/name with spaces /x"), "/a/name with spaces /x");
  EXPECT_EQ(CDirectory::Normalize("/a/trailing "), "/a/trailing ");
  EXPECT_EQ(CDirectory::Normalize("/a/\xc3\xa9t\xc3\xa9"), "/a/\xc3\xa9t\xc3\xa9");
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.Dir("ftp/bob/sub/deeper");
    tree.Dir("ftp/bobby");
    tree.Dir("ftp/Bob");
    tree.File("ftp/bob/file.txt");
    tree.File("outside.txt");
    dir.SetDefaultDirectory(tree.Path("ftp/bob"));
  }

  TempTree tree;
  CDirectory dir;
};

TEST_F(DirectoryTest, DefaultAndCurrentDirectoryEndInSlashAndAreNormalised) {
  EXPECT_EQ(dir.DefaultDirectory(), tree.Path("ftp/bob/"));
  EXPECT_EQ(dir.CurrentDirectory(), tree.Path("ftp/bob/"));
  dir.SetCurrentDirectory(tree.Path("ftp/bob/sub/deeper/.."));
  EXPECT_EQ(dir.CurrentDirectory(), tree.Path("ftp/bob/sub/"));
  dir.SetCurrentDirectory(tree.Root() + "//ftp\\\\bob");
  EXPECT_EQ(dir.CurrentDirectory(), tree.Path("ftp/bob/"));
}

TEST_F(DirectoryTest, MissingDirectoriesAndFilesChangeNothing) {
  dir.SetCurrentDirectory(tree.Path("ftp/bob/sub"));
  dir.SetCurrentDirectory(tree.Path("ftp/bob/nope"));
  dir.SetCurrentDirectory(tree.Path("ftp/bob/file.txt"));
  EXPECT_EQ(dir.CurrentDirectory(), tree.Path("ftp/bob/sub/"));
  dir.SetDefaultDirectory(tree.Path("nope"));
  EXPECT_EQ(dir.DefaultDirectory(), tree.Path("ftp/bob/"));
  EXPECT_EQ(dir.CurrentDirectory(), tree.Path("ftp/bob/sub/"));
}

TEST_F(DirectoryTest, CandidatesJoinOnlyRelativeTextsAndResolveThem) {
  dir.SetCurrentDirectory(tree.Path("ftp/bob/sub"));
  // Absolute: exactly that path, never joined to the current directory.
  EXPECT_EQ(dir.Candidates("/pub/x"), Paths{"/pub/x"});
  EXPECT_EQ(dir.Candidates("\\pub\\x"), Paths{"/pub/x"});
  EXPECT_EQ(dir.Candidates("//pub//x"), Paths{"/pub/x"});
  // Relative: the current directory first, then from the root.
  EXPECT_EQ(dir.Candidates("a//b"), (Paths{tree.Path("ftp/bob/sub/a/b"), "/a/b"}));
  EXPECT_EQ(dir.Candidates("../file.txt"), (Paths{tree.Path("ftp/bob/file.txt"), "/file.txt"}));
  EXPECT_EQ(dir.Candidates("name "), (Paths{tree.Path("ftp/bob/sub/name "), "/name "}));
}

TEST_F(DirectoryTest, CandidatesKeepTheDirectoryFormOfTheText) {
  dir.SetCurrentDirectory(tree.Path("ftp/bob/sub"));
  EXPECT_EQ(dir.Candidates("..").front(), tree.Path("ftp/bob/"));
  EXPECT_EQ(dir.Candidates("deeper/..").front(), tree.Path("ftp/bob/sub/"));
  EXPECT_EQ(dir.Candidates(".").front(), tree.Path("ftp/bob/sub/"));
  EXPECT_EQ(dir.Candidates("x/").front(), tree.Path("ftp/bob/sub/x/"));
  EXPECT_EQ(dir.Candidates("").front(), tree.Path("ftp/bob/sub/"));
  EXPECT_EQ(dir.Candidates("/").front(), "/");
  EXPECT_EQ(dir.Candidates("/..").front(), "/");
}

TEST_F(DirectoryTest, InsideDefaultComparesResolvedComponents) {
  EXPECT_TRUE(dir.InsideDefault(tree.Path("ftp/bob")));
  EXPECT_TRUE(dir.InsideDefault(tree.Path("ftp/bob/")));
  EXPECT_TRUE(dir.InsideDefault(tree.Path("ftp/bob/sub/x")));
  EXPECT_TRUE(dir.InsideDefault(tree.Path("ftp/bob/sub/../x")));
  // The text begins with the default directory but climbs out of it.
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/bob/../../../etc")));
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/bob/..")));
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/bob/sub/../../bobby")));
  // A longer name is a different directory; letter case counts.
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/bobby")));
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/bobby/x")));
  EXPECT_FALSE(dir.InsideDefault(tree.Path("ftp/Bob/x")));
  EXPECT_FALSE(dir.InsideDefault("/etc/passwd"));
  EXPECT_FALSE(dir.InsideDefault("/"));
}

TEST_F(DirectoryTest, BelowDefaultExcludesTheDefaultDirectoryItself) {
  EXPECT_FALSE(dir.BelowDefault(tree.Path("ftp/bob")));
  EXPECT_FALSE(dir.BelowDefault(tree.Path("ftp/bob/sub/..")));
  EXPECT_TRUE(dir.BelowDefault(tree.Path("ftp/bob/sub")));
  EXPECT_FALSE(dir.BelowDefault(tree.Path("ftp/bobby")));
}

TEST(DirectoryDefaults, EmptyDefaultContainsNothingAndRootContainsAll) {
  CDirectory none;
  none.SetDefaultDirectory("");
  EXPECT_EQ(none.DefaultDirectory(), "");
  EXPECT_FALSE(none.InsideDefault("/"));
  EXPECT_FALSE(none.InsideDefault("/tmp"));
  // Without a current directory a relative text is still an absolute path.
  EXPECT_EQ(none.Candidates("a").front(), "/a");
  CDirectory root;
  root.SetDefaultDirectory("/");
  EXPECT_EQ(root.DefaultDirectory(), "/");
  EXPECT_TRUE(root.InsideDefault("/etc"));
  EXPECT_TRUE(root.InsideDefault("/../.."));
}

TEST_F(DirectoryTest, DirExistsOnlyForDirectories) {
  EXPECT_TRUE(dir.DirExists(tree.Path("ftp/bob/sub")));
  EXPECT_TRUE(dir.DirExists(tree.Path("ftp/bob/sub/"), "*.*"));
  EXPECT_FALSE(dir.DirExists(tree.Path("ftp/bob/file.txt")));
  EXPECT_FALSE(dir.DirExists(tree.Path("ftp/bob/nope")));
  EXPECT_FALSE(dir.DirExists(""));
}

TEST_F(DirectoryTest, MakeDirCreatesMissingParents) {
  EXPECT_TRUE(dir.MakeDir(tree.Path("ftp/bob/a/b/c")));
  EXPECT_TRUE(tree.IsDir("ftp/bob/a/b/c"));
  // Existing: still a success, nothing changes.
  EXPECT_TRUE(dir.MakeDir(tree.Path("ftp/bob/a/b/c/")));
  EXPECT_TRUE(dir.MakeDir(tree.Path("ftp/bob/x//y/../z")));
  EXPECT_TRUE(tree.IsDir("ftp/bob/x/z"));
  EXPECT_FALSE(tree.Exists("ftp/bob/x/y"));
}

TEST_F(DirectoryTest, MakeDirFailsThroughAFile) {
  EXPECT_FALSE(dir.MakeDir(tree.Path("ftp/bob/file.txt")));
  EXPECT_FALSE(dir.MakeDir(tree.Path("ftp/bob/file.txt/x")));
  EXPECT_FALSE(tree.IsDir("ftp/bob/file.txt"));
}

TEST_F(DirectoryTest, RemoveDirOnlyEmptyDirectories) {
  EXPECT_FALSE(dir.RemoveDir(tree.Path("ftp/bob/sub")));
  EXPECT_FALSE(dir.RemoveDir(tree.Path("ftp/bob/file.txt")));
  EXPECT_TRUE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_FALSE(dir.RemoveDir("/"));
  EXPECT_TRUE(dir.RemoveDir(tree.Path("ftp/bob/sub/deeper/")));
  EXPECT_FALSE(tree.Exists("ftp/bob/sub/deeper"));
}

TEST_F(DirectoryTest, RenameDirConvertsAndNeverReplaces) {
  EXPECT_TRUE(dir.RenameDir(tree.Path("ftp/bob/sub/deeper/../deeper"), tree.Path("ftp/bob\\\\moved")));
  EXPECT_TRUE(tree.IsDir("ftp/bob/moved"));
  EXPECT_FALSE(tree.Exists("ftp/bob/sub/deeper"));
  tree.Dir("ftp/bob/empty");
  EXPECT_FALSE(dir.RenameDir(tree.Path("ftp/bob/moved"), tree.Path("ftp/bob/empty")));
  EXPECT_TRUE(tree.IsDir("ftp/bob/moved"));
  EXPECT_FALSE(dir.RenameDir(tree.Path("ftp/bob/file.txt"), tree.Path("ftp/bob/f2")));
  EXPECT_FALSE(dir.RenameDir(tree.Path("ftp/bob/nope"), tree.Path("ftp/bob/n2")));
}

class FileInfoTest : public DirectoryTest {};

TEST_F(FileInfoTest, FullPathIsConvertedAndSplit) {
  CFileInfo& file = dir.pobjFile();
  file.SetFullPathName(tree.Path("ftp/bob/sub//..\\file.txt"));
  EXPECT_EQ(file.FullPathNamePhysical(), tree.Path("ftp/bob/file.txt"));
  EXPECT_EQ(file.FullPathName(), tree.Path("ftp/bob/file.txt"));
  EXPECT_TRUE(file.FileExists());
  EXPECT_TRUE(file.PathExists());
  EXPECT_FALSE(file.IsDirectory());
  EXPECT_EQ(file.PathPart(), tree.Path("ftp/bob/"));
  EXPECT_EQ(file.FileName(), "file.txt");

  file.SetFullPathName(tree.Path("ftp/bob/sub/"));
  EXPECT_TRUE(file.FileExists());
  EXPECT_TRUE(file.IsDirectory());

  file.SetFullPathName(tree.Path("ftp/bob/file.txt "));
  EXPECT_FALSE(file.FileExists()) << "a trailing space is part of the name";
}

TEST_F(FileInfoTest, DeleteReadOnlyFileButNotADirectory) {
  tree.File("ftp/bob/ro.txt");
  ASSERT_EQ(::chmod(tree.Path("ftp/bob/ro.txt").c_str(), 0444), 0);
  CFileInfo& file = dir.pobjFile();
  file.SetFullPathName(tree.Path("ftp/bob/ro.txt"));
  EXPECT_NE(file.Delete(), 0);
  EXPECT_FALSE(tree.Exists("ftp/bob/ro.txt"));
  EXPECT_EQ(file.FullPathNamePhysical(), tree.Path("ftp/bob/"));
  EXPECT_EQ(file.FileName(), "");

  // A directory is neither deleted nor made writable.
  ASSERT_EQ(::chmod(tree.Path("ftp/bob/sub").c_str(), 0555), 0);
  file.SetFullPathName(tree.Path("ftp/bob/sub"));
  EXPECT_EQ(file.Delete(), 0);
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub"));
  struct stat st{};
  ASSERT_EQ(::stat(tree.Path("ftp/bob/sub").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);

  file.SetFullPathName(tree.Path("ftp/bob/nope"));
  EXPECT_EQ(file.Delete(), 0);
}

TEST_F(FileInfoTest, DeleteOfALinkLeavesItsTargetAlone) {
  ASSERT_EQ(::chmod(tree.Path("outside.txt").c_str(), 0444), 0);
  ASSERT_EQ(::symlink(tree.Path("outside.txt").c_str(), tree.Path("ftp/bob/link").c_str()), 0);
  CFileInfo& file = dir.pobjFile();
  file.SetFullPathName(tree.Path("ftp/bob/link"));
  EXPECT_TRUE(file.FileExists());
  EXPECT_NE(file.Delete(), 0);
  EXPECT_FALSE(tree.Exists("ftp/bob/link"));
  struct stat st{};
  ASSERT_EQ(::stat(tree.Path("outside.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u) << "the link's target was made writable";
}

TEST_F(FileInfoTest, DanglingLinkExistsAndCanBeDeleted) {
  ASSERT_EQ(::symlink(tree.Path("gone").c_str(), tree.Path("ftp/bob/dangling").c_str()), 0);
  CFileInfo& file = dir.pobjFile();
  file.SetFullPathName(tree.Path("ftp/bob/dangling"));
  EXPECT_TRUE(file.FileExists());
  EXPECT_NE(file.Delete(), 0);
}

TEST_F(FileInfoTest, AttributesNormalAndReadOnly) {
  CFileInfo& file = dir.pobjFile();
  file.SetFullPathName(tree.Path("ftp/bob/file.txt"));
  struct stat st{};
  EXPECT_TRUE(file.Attributes(CFileInfo::kAttributeReadOnly));
  ASSERT_EQ(::stat(tree.Path("ftp/bob/file.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_TRUE(file.Attributes(CFileInfo::kAttributeNormal));
  ASSERT_EQ(::stat(tree.Path("ftp/bob/file.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  file.SetFullPathName(tree.Path("ftp/bob/nope"));
  EXPECT_FALSE(file.Attributes(CFileInfo::kAttributeNormal));
}

TEST_F(FileInfoTest, RenameFileNeverReplaces) {
  tree.File("ftp/bob/other.txt", "keep me");
  CFileInfo& file = dir.pobjFile();
  EXPECT_FALSE(file.RenameFile(tree.Path("ftp/bob/file.txt"), tree.Path("ftp/bob/other.txt")));
  EXPECT_TRUE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_TRUE(file.RenameFile(tree.Path("ftp/bob/file.txt"), tree.Path("ftp/bob/sub//renamed.txt")));
  EXPECT_TRUE(tree.Exists("ftp/bob/sub/renamed.txt"));
  EXPECT_FALSE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_FALSE(file.RenameFile(tree.Path("ftp/bob/nope"), tree.Path("ftp/bob/n2")));
  EXPECT_FALSE(file.RenameFile("/", tree.Path("ftp/bob/root")));
}

}  // namespace
}  // namespace velto
