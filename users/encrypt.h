// RC4 over the 8-bit codes of a text, keyed with a pass phrase. Used to keep
// the passwords of the user file unreadable; not a protection against anyone
// who has the program (the pass phrase is a constant of the user database).
#pragma once

#include <string>
#include <string_view>

namespace velto {

class CEncrypt {
 public:
  // Both directions are the same transformation (RC4 is its own inverse).
  // The result has exactly as many bytes as the input and may hold any byte
  // value. An empty text gives "". An empty pass phrase is a caller bug and
  // throws std::invalid_argument (there would be no key to cycle through).
  static std::string Encrypt(std::string_view vsTextToCrypt, std::string_view vsPassPhrase);
  static std::string Decrypt(std::string_view vsTextToDeCrypt, std::string_view vsPassPhrase);
};

}  // namespace velto
