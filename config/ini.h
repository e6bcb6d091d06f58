// CIni: the program's own INI file store.
//
// The whole file is held as one text and every lookup is a plain search in
// that text, so comments, blank lines and unknown lines survive edits exactly.
// The matching rules are part of the file format:
//   - the header of section S is the first "[S]" followed by CR LF anywhere in
//     the text (case-sensitive, no blanks inside the brackets or after them);
//   - the section ends at the first "]" followed by CR LF after its header
//     line (normally the end of the next header), else at the end of the text;
//   - key K is the first CR LF "K=" after the header; it belongs to the
//     section when it starts before the section's end;
//   - the value runs from "=" to the next CR LF or the end of the text and is
//     not trimmed.
// Line breaks are CR LF only; any other bytes (bare LF, NUL, binary) are plain
// text that simply never matches. A file read from disk that has no CR LF at
// all (written by hand with LF line ends) is read with each LF taken as CR LF;
// a file read with LoneLineFeed::kLineBreak has every lone LF taken so, which
// suits files whose values never hold one (the settings).
//
// Lookups find the section header through an index of the text's headers,
// built once after each change, so reading every section of a large file is
// linear in its size.
//
// Not thread-safe; each owner holds its own object. Two objects on the same
// file do not see each other's edits: the last save wins for the whole file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CIni {
 public:
  CIni() = default;

  // What a LF without CR before it is in a file that also has CR LF line
  // ends: a plain byte (the user file's old cipher text may hold one), or a
  // line break (a settings file edited by hand with a mix of line ends).
  enum class LoneLineFeed { kPlainByte, kLineBreak };

  // Stores the path and loads the file. A missing or unreadable file gives
  // empty contents; false only for a file that is there but could not be
  // read (errno says why), which a caller may not want to take as empty.
  bool SetFileName(const std::string& path, LoneLineFeed loneLineFeed = LoneLineFeed::kPlainByte);
  const std::string& FileName() const;

  // The key's value, or defaultValue when the section or the key is missing.
  // A key present with nothing after "=" gives "", not the default.
  std::string GetValue(std::string_view section, std::string_view key,
                       std::string_view defaultValue = {}) const;

  // Sets the key. A new section is appended at the end of the text (a text
  // that ends in the section's header without a line break gets just the
  // break and the key line); a new key becomes the first line of its
  // section; a key that exists only in a later section is added as the last
  // line of this one.
  void WriteValue(std::string_view section, std::string_view key, std::string_view value,
                  bool writeToDisk = false);

  // Removes the section from its header up to the next section's header line
  // (or the end of the text).
  void DeleteSection(std::string_view section, bool writeToDisk = false);

  // Many sections at once, in one pass over the text, as if each key were
  // written with WriteValue in the order given, except that a key missing
  // from its section always becomes the section's first line. Sections
  // not yet in the text are appended in the order given.
  struct SectionValues {
    std::string section;
    std::vector<std::pair<std::string, std::string>> values;  // key, value
  };
  void WriteSections(const std::vector<SectionValues>& sections);
  // DeleteSection of each name, in one pass over the text.
  void DeleteSections(const std::vector<std::string>& sections);

  // Removes the key's line, line break included.
  void DeleteKey(std::string_view section, std::string_view key, bool writeToDisk = false);

  // Collapses every run of three line breaks to two (one left-to-right pass),
  // then saves the contents followed by one CR LF. The file is replaced
  // atomically: on any failure the old file stays as it was. True when the
  // file was saved.
  bool WriteToDisk();

  // Forgets the file name and the contents without saving.
  void CloseFile();

  const std::string& Contents() const;
  void SetContents(std::string text);

 private:
  void BuildIndex() const;
  // Position of the section's header ("[" of "[S]" CR LF), or npos.
  std::size_t FindHeader(std::string_view section) const;

  std::string fileName_;
  std::string contents_;
  mutable std::unordered_map<std::string, std::size_t> headers_;
  mutable bool indexed_ = false;
  mutable bool indexUsable_ = true;
};
