// One file-system entry named by a path: its existence and the file
// operations the commands perform on it.
//
// Paths are POSIX paths. Setting a path converts it the way every command
// argument is converted ("\" taken as "/", runs of separators collapsed, "."
// and ".." resolved on the text), so the path the operating system is handed
// is exactly the path a caller checked.
#pragma once

#include <cstdint>
#include <string>

namespace velto {

class CFileInfo {
 public:
  // The attribute flags Attributes() understands.
  static constexpr std::uint32_t kAttributeReadOnly = 0x1;
  static constexpr std::uint32_t kAttributeNormal = 0x80;

  // Kept for the directory object's sake; with no drive the virtual base is
  // always empty and the virtual form equals the physical one.
  bool UseVirtualPaths = true;
  std::string VirtualPathBase;

  // Converts and stores the path, then refreshes the existence flags. Spaces
  // are kept: a name may end with one.
  void SetFullPathName(const std::string& vsNewPath);
  // The path as the client sees it.
  std::string FullPathName() const;
  const std::string& FullPathNamePhysical() const { return fullPath_; }
  // Whether the entry existed at the last refresh (files, directories and
  // symbolic links alike; both flags always agree).
  bool FileExists() const { return exists_; }
  bool PathExists() const { return exists_; }
  // Whether the entry was a directory (following a symbolic link).
  bool IsDirectory() const { return isDirectory_; }
  // The full path split at its last "/" (the path part keeps the "/").
  const std::string& PathPart() const { return pathPart_; }
  const std::string& FileName() const { return fileName_; }

  // Moves `from` to `to` (both converted first). Never replaces an existing
  // entry at `to`. True on success.
  bool RenameFile(const std::string& vsExistingPathAndFile, const std::string& vsNewFileAndPath) const;
  // kAttributeNormal adds the owner's write permission, kAttributeReadOnly
  // takes every write permission away. A symbolic link is left alone (its
  // target may lie anywhere). True on success.
  bool Attributes(std::uint32_t vnAttributeFlags) const;
  // Deletes the entry unless it is a directory, making a read-only file
  // writable by its owner first (restored when the deletion fails). Non-zero
  // on success; the full path then becomes the path part.
  std::int32_t Delete();

  // The converted form of a path: "/" separators, runs collapsed, "." and
  // ".." resolved, absolute (a relative text is taken from "/"), no trailing
  // "/" except for the root.
  static std::string ToPhysical(const std::string& path);

 private:
  void Refresh();

  std::string fullPath_;
  std::string pathPart_;
  std::string fileName_;
  bool exists_ = false;
  bool isDirectory_ = false;
};

}  // namespace velto
