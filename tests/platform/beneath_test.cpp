#include "platform/beneath.h"
#include "platform/fd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A home with links that stay inside and links that lead out, opened both
// by the kernel's resolution and by the walk: both must agree.
TEST(Beneath, LinksStayInsideAndNothingLeadsOut) {
  char pattern[] = "/tmp/velto-beneath-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path top = pattern;
  const fs::path home = top / "home";
  fs::create_directories(home / "pub" / "deep");
  fs::create_directories(top / "outside");
  std::ofstream(home / "pub" / "deep" / "f") << "inside";
  std::ofstream(top / "outside" / "secret") << "secret";
  fs::create_symlink("deep", home / "pub" / "rel");                      // inside, relative
  fs::create_symlink((home / "pub").string(), home / "abs");             // inside, absolute
  fs::create_symlink("../../outside", home / "pub" / "up");              // out, relative
  fs::create_symlink((top / "outside").string(), home / "out");          // out, absolute
  fs::create_symlink("../..", home / "pub" / "top");                     // out through ".."
  fs::create_symlink("nowhere", home / "dangling");
  const platform::UniqueFd root(::open(home.c_str(), O_PATH | O_DIRECTORY));
  ASSERT_TRUE(root);

  struct Case {
    const char* path;
    int flags;
    int expected;  // 0: opens
  };
  const Case cases[] = {
      {"", O_PATH, 0},
      {"pub/deep/f", O_RDONLY, 0},
      {"pub/rel/f", O_RDONLY, 0},
      {"abs/deep/f", O_RDONLY, 0},
      {"abs/rel/f", O_RDONLY, 0},
      {"pub/up/secret", O_RDONLY, -EXDEV},
      {"out/secret", O_RDONLY, -EXDEV},
      {"out", O_PATH | O_NOFOLLOW, 0},  // the link itself, not where it leads
      {"pub/top/outside/secret", O_RDONLY, -EXDEV},
      {"pub/top", O_PATH, -EXDEV},
      {"dangling", O_RDONLY, -ENOENT},
      {"out/new", O_WRONLY | O_CREAT | O_EXCL, -EXDEV},
      {"pub/up/new", O_WRONLY | O_CREAT, -EXDEV},
      {"pub/deep/f/x", O_RDONLY, -ENOTDIR},
  };
  for (const auto open : {platform::OpenBeneath, platform::WalkBeneath}) {
    for (const Case& c : cases) {
      const int fd = open(root.get(), c.path, c.flags, 0644, home.string(), home.string());
      EXPECT_EQ(fd >= 0 ? 0 : fd, c.expected) << c.path;
      if (fd >= 0) ::close(fd);
    }
  }
  EXPECT_FALSE(fs::exists(top / "outside" / "new"));
  fs::remove_all(top);
}

}  // namespace
