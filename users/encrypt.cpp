#include "users/encrypt.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace velto {

namespace {

std::string Rc4(std::string_view text, std::string_view passPhrase) {
  if (text.empty()) return {};
  if (passPhrase.empty()) throw std::invalid_argument("CEncrypt: empty pass phrase");

  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto k = static_cast<std::uint8_t>(passPhrase[i % passPhrase.size()]);
    j = static_cast<std::uint8_t>(j + s[i] + k);
    std::swap(s[i], s[j]);
  }

  std::string out;
  out.reserve(text.size());
  std::uint8_t i = 0;
  j = 0;
  for (const char c : text) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    const std::uint8_t k = s[static_cast<std::uint8_t>(s[i] + s[j])];
    out.push_back(static_cast<char>(static_cast<std::uint8_t>(c) ^ k));
  }
  return out;
}

}  // namespace

std::string CEncrypt::Encrypt(std::string_view vsTextToCrypt, std::string_view vsPassPhrase) {
  return Rc4(vsTextToCrypt, vsPassPhrase);
}

std::string CEncrypt::Decrypt(std::string_view vsTextToDeCrypt, std::string_view vsPassPhrase) {
  return Rc4(vsTextToDeCrypt, vsPassPhrase);
}

}  // namespace velto
