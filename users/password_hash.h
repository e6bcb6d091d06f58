// Passwords kept as one-way hashes (yescrypt, through the system's crypt
// library), the comparison that does not give away where two texts differ,
// and passwords nobody can guess, from the kernel's randomness.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// The prefix of the hashes HashPassword makes.
inline constexpr std::string_view kHashPrefix = "$y$";

// `count` bytes from the kernel (getrandom); nothing when it gives none.
std::optional<std::string> RandomBytes(std::size_t count);

// `length` letters and digits drawn evenly from kernel randomness.
std::optional<std::string> RandomPassword(std::size_t length = 24);

// The yescrypt hash ("$y$...") of the password with a fresh random salt.
// Nothing when the password holds a NUL byte (crypt would cut it there) or
// the crypt library cannot make the hash.
std::optional<std::string> HashPassword(std::string_view password);

// Whether the password gives `hash`. A text that is not such a hash
// matches nothing.
bool MatchesHash(std::string_view password, const std::string& hash);

// Equality whose time depends on the lengths only, never on where the texts
// first differ.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

}  // namespace velto
