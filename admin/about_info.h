// What the About box and the start-up window say about the program: its
// version and who makes it.
#pragma once

#include <string>
#include <string_view>

namespace velto {

struct ProgramVersion {
  int major = 0;
  int minor = 0;
  int revision = 0;
};

// From the build (the CMake project version).
inline constexpr ProgramVersion kProgramVersion{VELTO_VERSION_MAJOR, VELTO_VERSION_MINOR, VELTO_VERSION_PATCH};

inline constexpr std::string_view kMakerName = "Velto Software";
inline constexpr std::string_view kMakerAddress = "1 Harbour Row\nPort Ellery PE1 2VT";
inline constexpr std::string_view kMakerWebPage = "https://velto.example.org";
inline constexpr std::string_view kSupportMail = "support@velto.example.org";

// "Version 2.0.101".
inline std::string VersionLine(const ProgramVersion& version = kProgramVersion) {
  return "Version " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.revision);
}

// Subject of a mail to support: names the program and carries the version
// line, so a report says which build it is about.
inline std::string SupportMailSubject(std::string_view versionLine) {
  return "Velto Support (" + std::string(versionLine) + ")";
}

}  // namespace velto
