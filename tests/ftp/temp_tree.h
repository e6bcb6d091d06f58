// A private folder tree for file-system tests, removed at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace velto::test {

class TempTree {
 public:
  TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velto-ftp-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // Resolved once, so every path the tests build is the one the system uses.
    root_ = std::filesystem::canonical(pattern).string();
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root, without a trailing "/".
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void Dir(const std::string& relative) const { std::filesystem::create_directories(Path(relative)); }
  void File(const std::string& relative, const std::string& content = "data") const {
    std::ofstream(Path(relative), std::ios::binary) << content;
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::symlink_status(Path(relative)));
  }
  bool IsDir(const std::string& relative) const { return std::filesystem::is_directory(Path(relative)); }

 private:
  std::string root_;
};

}  // namespace velto::test
