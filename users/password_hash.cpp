#include "users/password_hash.h"

#include <crypt.h>
#include <sys/random.h>

#include <cerrno>
#include <memory>

namespace velto {

namespace {

// The random bytes crypt_gensalt turns into a salt (yescrypt uses 16).
constexpr std::size_t kSaltBytes = 16;

}  // namespace

std::optional<std::string> RandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t got = ::getrandom(bytes.data() + filled, count - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

std::optional<std::string> RandomPassword(std::size_t length) {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // Bytes at or above the largest multiple of the alphabet's size are
  // drawn again, so every character is equally likely.
  constexpr unsigned kLimit = 256 - 256 % kAlphabet.size();
  std::string password;
  while (password.size() < length) {
    const auto bytes = RandomBytes(length);
    if (!bytes) return std::nullopt;
    for (const char c : *bytes) {
      const auto value = static_cast<unsigned char>(c);
      if (value < kLimit && password.size() < length) password.push_back(kAlphabet[value % kAlphabet.size()]);
    }
  }
  return password;
}

std::optional<std::string> HashPassword(std::string_view password) {
  if (password.find('\0') != std::string_view::npos) return std::nullopt;
  const auto random = RandomBytes(kSaltBytes);
  if (!random) return std::nullopt;
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (::crypt_gensalt_rn(kHashPrefix.data(), 0, random->data(), static_cast<int>(random->size()), setting,
                         sizeof setting) == nullptr) {
    return std::nullopt;
  }
  // crypt_data is tens of kilobytes: too large for the stack.
  auto data = std::make_unique<crypt_data>();
  const std::string phrase(password);
  const char* hash = ::crypt_r(phrase.c_str(), setting, data.get());
  if (hash == nullptr || std::string_view(hash).substr(0, kHashPrefix.size()) != kHashPrefix) return std::nullopt;
  return std::string(hash);
}

bool MatchesHash(std::string_view password, const std::string& hash) {
  if (password.find('\0') != std::string_view::npos || hash.substr(0, kHashPrefix.size()) != kHashPrefix) {
    return false;
  }
  auto data = std::make_unique<crypt_data>();
  const std::string phrase(password);
  const char* computed = ::crypt_r(phrase.c_str(), hash.c_str(), data.get());
  // A failure gives NULL or a text starting with "*", never the hash.
  return computed != nullptr && ConstantTimeEqual(computed, hash);
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
  const std::size_t longer = a.size() > b.size() ? a.size() : b.size();
  unsigned difference = a.size() == b.size() ? 0U : 1U;
  for (std::size_t i = 0; i < longer; ++i) {
    const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0U;
    const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0U;
    difference |= x ^ y;
  }
  return difference == 0;
}

}  // namespace velto
