// The INI store's matching rules, insertion positions and edits, on text held
// in memory.
#include "config/ini.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

using namespace std::string_literals;

CIni WithText(std::string text) {
  CIni ini;
  ini.SetContents(std::move(text));
  return ini;
}

TEST(IniLookup, FindsValuesAndFallsBackToDefaults) {
  const CIni ini = WithText("[Settings]\r\nChunkSize=1024\r\nEmpty=\r\nURL=a=b=c\r\n");
  EXPECT_EQ(ini.GetValue("Settings", "ChunkSize", "512"), "1024");
  EXPECT_EQ(ini.GetValue("Settings", "URL"), "a=b=c");
  // An existing empty value is a value, not a miss.
  EXPECT_EQ(ini.GetValue("Settings", "Empty", "dflt"), "");
  EXPECT_EQ(ini.GetValue("Settings", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.GetValue("Settings", "Missing"), "");
  EXPECT_EQ(ini.GetValue("Nowhere", "ChunkSize", "dflt"), "dflt");
  EXPECT_EQ(CIni().GetValue("Settings", "ChunkSize", "512"), "512");
}

TEST(IniLookup, LastLineWithoutLineBreakGivesWholeValue) {
  const CIni ini = WithText("[S]\r\nA=1\r\nB=the rest = all of it");
  EXPECT_EQ(ini.GetValue("S", "B"), "the rest = all of it");
}

TEST(IniLookup, KeyMustBeginALine) {
  const CIni ini = WithText("[FTP Settings]\r\nFTPPort=21\r\n Timeout=5\r\nMaxUsers =7\r\n");
  EXPECT_EQ(ini.GetValue("FTP Settings", "Port", "none"), "none");
  EXPECT_EQ(ini.GetValue("FTP Settings", "FTPPort", "none"), "21");
  EXPECT_EQ(ini.GetValue("FTP Settings", "Timeout", "none"), "none");
  EXPECT_EQ(ini.GetValue("FTP Settings", "MaxUsers", "none"), "none");
  EXPECT_EQ(ini.GetValue("FTP Settings", "MaxUsers ", "none"), "7");

  const CIni both = WithText("[S]\r\nFTPPort=21\r\nPort=99\r\n");
  EXPECT_EQ(both.GetValue("S", "Port"), "99");
}

TEST(IniLookup, HeaderMatchIsExact) {
  EXPECT_EQ(WithText("[S] \r\nK=1\r\n").GetValue("S", "K", "d"), "d");
  EXPECT_EQ(WithText("[ S]\r\nK=1\r\n").GetValue("S", "K", "d"), "d");
  EXPECT_EQ(WithText("[s]\r\nK=1\r\n").GetValue("S", "K", "d"), "d");
  EXPECT_EQ(WithText("[s]\r\nK=1\r\n").GetValue("s", "K", "d"), "1");
  // Keys are case-sensitive too.
  EXPECT_EQ(WithText("[S]\r\nk=1\r\n").GetValue("S", "K", "d"), "d");
  // The header is found anywhere in the text, not only at a line start.
  EXPECT_EQ(WithText("junk[S]\r\nK=1\r\n").GetValue("S", "K", "d"), "1");
}

TEST(IniLookup, FirstHeaderAndFirstKeyWin) {
  const CIni ini = WithText("[S]\r\nK=first\r\nK=second\r\n[S]\r\nK=third\r\n");
  EXPECT_EQ(ini.GetValue("S", "K"), "first");
}

TEST(IniLookup, KeysOfOtherSectionsAreNotFound) {
  const CIni ini = WithText("[A]\r\nx=1\r\n[B]\r\nk=2\r\n[C]\r\nx=3\r\n");
  EXPECT_EQ(ini.GetValue("A", "k", "d"), "d");
  EXPECT_EQ(ini.GetValue("B", "x", "d"), "d");
  EXPECT_EQ(ini.GetValue("C", "x", "d"), "3");
  EXPECT_EQ(ini.GetValue("B", "k", "d"), "2");
}

TEST(IniLookup, ValueEndingInBracketEndsTheSection) {
  const CIni ini = WithText("[S]\r\nA=1\r\nDir=/srv/[pub]\r\nB=2\r\n[T]\r\nC=3\r\n");
  EXPECT_EQ(ini.GetValue("S", "A"), "1");
  EXPECT_EQ(ini.GetValue("S", "Dir"), "/srv/[pub]");
  EXPECT_EQ(ini.GetValue("S", "B", "d"), "d");
  EXPECT_EQ(ini.GetValue("T", "C"), "3");
}

TEST(IniLookup, BareLineFeedsAreNotLineBreaks) {
  const CIni ini = WithText("[S]\nK=1\n[T]\r\nK=2\nL=3\r\n");
  EXPECT_EQ(ini.GetValue("S", "K", "d"), "d");
  // The value runs to the next CR LF, bare LF included.
  EXPECT_EQ(ini.GetValue("T", "K"), "2\nL=3");
}

// A settings file edited by hand may mix CR LF and LF lines; no line may
// swallow the next (FTPBindToIP after an LF-only line once went unread).
TEST(IniLookup, MixedLineEndsReadLineByLineWhereAskedFor) {
  char path[] = "/tmp/velto-ini-mixed-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::ofstream(path, std::ios::binary) << "[FTP Settings]\r\nFTPPort=2121\nFTPBindToIP=1\r\r\nBannerExit=Bye\n";
  CIni settings;
  settings.SetFileName(path, CIni::LoneLineFeed::kLineBreak);
  EXPECT_EQ(settings.GetValue("FTP Settings", "FTPPort"), "2121");
  EXPECT_EQ(settings.GetValue("FTP Settings", "FTPBindToIP"), "1\r");
  EXPECT_EQ(settings.GetValue("FTP Settings", "BannerExit"), "Bye");
  EXPECT_EQ(settings.Contents(), "[FTP Settings]\r\nFTPPort=2121\r\nFTPBindToIP=1\r\r\nBannerExit=Bye\r\n");
  // Elsewhere a lone LF in a CR LF file stays a byte of its value.
  CIni accounts;
  accounts.SetFileName(path);
  EXPECT_EQ(accounts.GetValue("FTP Settings", "FTPPort"), "2121\nFTPBindToIP=1\r");
  std::remove(path);
}

TEST(IniLookup, BytesArePassedThrough) {
  const std::string value = "a\0b\xff\x80\t="s;
  const CIni ini = WithText("[S\xe9]\r\nK\x01=" + value + "\r\n");
  EXPECT_EQ(ini.GetValue("S\xe9", "K\x01"), value);
}

TEST(IniWrite, NewSectionIsAppendedAfterALineBreak) {
  CIni empty;
  empty.WriteValue("S", "K", "V");
  EXPECT_EQ(empty.Contents(), "\r\n[S]\r\nK=V\r\n");

  CIni ini = WithText("[A]\r\na=1\r\n");
  ini.WriteValue("B", "b", "2");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n");

  CIni noBreak = WithText("[A]\r\na=1");
  noBreak.WriteValue("B", "b", "2");
  EXPECT_EQ(noBreak.Contents(), "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
}

TEST(IniWrite, TextEndingInTheBareHeaderGetsItsLineBreak) {
  CIni ini = WithText("[A]\r\na=1\r\n[Log]");
  ini.WriteValue("Log", "K", "v");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n[Log]\r\nK=v\r\n");
  EXPECT_EQ(ini.GetValue("Log", "K"), "v");

  CIni batch = WithText("[Log]");
  batch.WriteSections({{"Log", {{"K", "v"}}}});
  EXPECT_EQ(batch.GetValue("Log", "K"), "v");
}

TEST(IniWrite, AppendingCompletesAnotherBareHeader) {
  // The new section's line break turns the last line "[X]" into X's header.
  CIni ini = WithText("[X]");
  EXPECT_EQ(ini.GetValue("X", "k", "none"), "none");
  ini.WriteValue("S", "a", "1");
  ini.WriteValue("X", "k", "v");
  EXPECT_EQ(ini.GetValue("X", "k"), "v");
  EXPECT_EQ(WithText(ini.Contents()).GetValue("X", "k"), "v");
}

TEST(IniWrite, NewKeyBecomesFirstLineOfItsSection) {
  CIni ini = WithText("; comment\r\n[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n");
  ini.WriteValue("A", "new", "x");
  ini.WriteValue("A", "newer", "y");
  EXPECT_EQ(ini.Contents(), "; comment\r\n[A]\r\nnewer=y\r\nnew=x\r\na=1\r\n\r\n[B]\r\nb=2\r\n");
}

TEST(IniWrite, ExistingKeyIsReplacedInPlace) {
  CIni ini = WithText("[A]\r\na=1\r\nb=old value\r\nc=3\r\n");
  ini.WriteValue("A", "b", "n");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\nb=n\r\nc=3\r\n");
  ini.WriteValue("A", "b", "");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\nb=\r\nc=3\r\n");
  ini.WriteValue("A", "b", "x=y]");
  EXPECT_EQ(ini.GetValue("A", "b"), "x=y]");
}

TEST(IniWrite, LastLineWithoutBreakIsReplacedToTheEnd) {
  CIni ini = WithText("[A]\r\na=1\r\nb=tail");
  ini.WriteValue("A", "b", "new");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\nb=new");
}

TEST(IniWrite, KeyOnlyInALaterSectionIsAddedAsLastLine) {
  CIni ini = WithText("[A]\r\na=1\r\n\r\n[B]\r\nk=2\r\n");
  ini.WriteValue("A", "k", "9");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n\r\nk=9\r\n[B]\r\nk=2\r\n");
  EXPECT_EQ(ini.GetValue("A", "k"), "9");
  EXPECT_EQ(ini.GetValue("B", "k"), "2");

  // The same key present in both: this section's own line is replaced.
  ini.WriteValue("A", "k", "10");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n\r\nk=10\r\n[B]\r\nk=2\r\n");
}

TEST(IniWrite, KeyAddedBeforeAValueThatEndsTheSectionStaysReadable) {
  // The section ends at "Dir=/srv/[pub]"; the new last line goes before that
  // line rather than into the middle of it.
  CIni ini = WithText("[S]\r\nDir=/srv/[pub]\r\nB=2\r\n[T]\r\nk=1\r\n");
  ini.WriteValue("S", "k", "9");
  EXPECT_EQ(ini.Contents(), "[S]\r\nk=9\r\nDir=/srv/[pub]\r\nB=2\r\n[T]\r\nk=1\r\n");
  EXPECT_EQ(ini.GetValue("S", "k"), "9");
  EXPECT_EQ(ini.GetValue("S", "Dir"), "/srv/[pub]");

  // No "[" at all after the header: still inside the section, never before
  // its header.
  CIni bare = WithText("[S]\r\na=1\r\nDir=x]\r\n[T]\r\nk=1\r\n");
  bare.WriteValue("S", "k", "9");
  EXPECT_EQ(bare.Contents(), "[S]\r\na=1\r\nk=9\r\nDir=x]\r\n[T]\r\nk=1\r\n");
  EXPECT_EQ(bare.GetValue("S", "k"), "9");
}

TEST(IniDeleteSection, MiddleSectionKeepsTheNextHeader) {
  CIni ini = WithText("[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n; note\r\n[C]\r\nc=3\r\n");
  ini.DeleteSection("B");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n\r\n[C]\r\nc=3\r\n");
  EXPECT_EQ(ini.GetValue("C", "c"), "3");
}

TEST(IniDeleteSection, LastSectionGoesToTheEndOfTheText) {
  CIni ini = WithText("[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n\r\n");
  ini.DeleteSection("B");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n\r\n");
  ini.DeleteSection("A");
  EXPECT_EQ(ini.Contents(), "");
}

TEST(IniDeleteSection, MissingSectionChangesNothing) {
  CIni ini = WithText("[A]\r\na=1\r\n");
  ini.DeleteSection("a");
  ini.DeleteSection("B");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n");
}

TEST(IniDeleteSection, SectionEndedByAValueStopsAtThatValue) {
  // Spelled out by the format: the bracket of "[pub]" is where section S ends
  // and "[pub]" is taken for the next header.
  CIni ini = WithText("[A]\r\na=1\r\n[S]\r\nk=1\r\nDir=/srv/[pub]\r\nB=2\r\n[T]\r\nt=1\r\n");
  ini.DeleteSection("S");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\n[pub]\r\nB=2\r\n[T]\r\nt=1\r\n");
  EXPECT_EQ(ini.GetValue("S", "k", "gone"), "gone");
  EXPECT_EQ(ini.GetValue("T", "t"), "1");
}

// The one-pass edits give the text that key-by-key edits give, comments,
// unknown keys and other sections included.
TEST(IniBatch, SectionsWrittenAndDeletedInOnePassMatchSingleEdits) {
  const std::string text =
      "; accounts\r\n[A]\r\nK=1\r\nX=keep\r\n\r\n[Other]\r\nK=o\r\n[B]\r\nL=2\r\n; tail\r\n";
  const std::vector<CIni::SectionValues> batch = {
      {"B", {{"K", "b"}, {"L", "22"}}}, {"A", {{"K", "a"}, {"M", "m"}}}, {"C", {{"K", "c"}, {"L", "3"}}}};
  CIni single = WithText(text);
  for (const auto& entry : batch) {
    for (const auto& [key, value] : entry.values) single.WriteValue(entry.section, key, value);
  }
  CIni batched = WithText(text);
  batched.WriteSections(batch);
  EXPECT_EQ(batched.Contents(), single.Contents());

  for (const char* name : {"A", "C", "Nope"}) single.DeleteSection(name);
  batched.DeleteSections({"A", "C", "Nope"});
  EXPECT_EQ(batched.Contents(), single.Contents());
  EXPECT_EQ(batched.GetValue("B", "L"), "22");
}

TEST(IniBatch, SectionEndedByAValueIsWrittenAsSingleEditsWould) {
  // "K=]" ends the section, yet its key belongs to it and is replaced; so
  // too when a lone "[" stands on a line before it.
  for (const std::string text : {"\r\n[Log]\r\nK=]\r\nUserID=\r\n", "\r\n[Log]\r\nA=\r\n[\r\nK=]\r\nB=\r\n"}) {
    CIni single = WithText(text);
    single.WriteValue("Log", "K", "");
    CIni batched = WithText(text);
    batched.WriteSections({{"Log", {{"K", ""}}}});
    EXPECT_EQ(batched.Contents(), single.Contents()) << text;
  }
}

TEST(IniBatch, HeaderInsideALineIsDeletedAsSingleEditsWould) {
  // Removing "[S]" from "[[S]" joins what is left into a header of U.
  const std::string text = "[[S]\r\nU]\r\n[U]\r\nk=1\r\n";
  CIni single = WithText(text);
  single.DeleteSection("S");
  single.DeleteSection("U");
  CIni batched = WithText(text);
  batched.DeleteSections({"S", "U"});
  EXPECT_EQ(batched.Contents(), single.Contents());
}

TEST(IniDeleteKey, RemovesOneLineOfTheSectionOnly) {
  CIni ini = WithText("[A]\r\na=1\r\nk=2\r\nz=3\r\n[B]\r\nk=4\r\n");
  ini.DeleteKey("A", "k");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\nz=3\r\n[B]\r\nk=4\r\n");
  // Only in a later section: untouched.
  ini.DeleteKey("A", "k");
  ini.DeleteKey("C", "k");
  EXPECT_EQ(ini.Contents(), "[A]\r\na=1\r\nz=3\r\n[B]\r\nk=4\r\n");

  CIni tail = WithText("[A]\r\na=1\r\nk=tail");
  tail.DeleteKey("A", "k");
  EXPECT_EQ(tail.Contents(), "[A]\r\na=1\r\n");
}

TEST(IniLifecycle, CloseFileForgetsNameAndContents) {
  CIni ini = WithText("[A]\r\na=1\r\n");
  ini.CloseFile();
  EXPECT_EQ(ini.FileName(), "");
  EXPECT_EQ(ini.Contents(), "");
  EXPECT_EQ(ini.GetValue("A", "a", "d"), "d");
  EXPECT_FALSE(ini.WriteToDisk());  // no file to save to
}

// Junk made mostly of the characters the rules look for.
std::string StructuredJunk(std::mt19937& rng, std::size_t size) {
  static constexpr char kAlphabet[] = {'[', ']', '\r', '\n', '=', 'S', 'k', 'x', '\0', '\xff'};
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 1);
  std::string text(size, ' ');
  for (char& c : text) c = kAlphabet[pick(rng)];
  return text;
}

TEST(IniRobustness, JunkNeverBreaksTheRules) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    CIni ini = WithText(StructuredJunk(rng, 200) + "\r\n");
    // Whatever the junk, a value just written is the value read back.
    ini.WriteValue("S", "k", "v1");
    ASSERT_EQ(ini.GetValue("S", "k"), "v1") << "round " << round;
    ini.WriteValue("Fresh", "key", "v2");
    ASSERT_EQ(ini.GetValue("Fresh", "key"), "v2") << "round " << round;
    ini.WriteValue("S", "k", "v3");
    ASSERT_EQ(ini.GetValue("S", "k"), "v3") << "round " << round;
    ini.DeleteKey("S", "k");
    ini.DeleteSection("S");
    ini.DeleteSection("x");
    (void)ini.GetValue("x", "k");
  }
}

TEST(IniRobustness, MegabytesOfRandomBytes) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string junk(4 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(byte(rng));

  CIni ini = WithText(junk);
  EXPECT_EQ(ini.GetValue("Settings", "ChunkSize", "512"), "512");
  ini.WriteValue("Settings", "ChunkSize", "1024");
  EXPECT_EQ(ini.GetValue("Settings", "ChunkSize", "512"), "1024");
  EXPECT_EQ(ini.Contents().substr(0, junk.size()), junk);

  CIni structured = WithText(StructuredJunk(rng, 2 << 20));
  EXPECT_EQ(structured.GetValue("Settings", "ChunkSize", "512"), "512");
  structured.DeleteSection("S");
  structured.DeleteKey("S", "k");
  structured.WriteValue("S", "k", "v");
}

}  // namespace
