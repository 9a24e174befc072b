// The plugin's settings inside the host's XML profile: a root element, one
// element per section, one element per key holding the value as its text.
// One ProfileDocument lives for one load or one save of the settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/xml.h"

namespace veltra::settings {

inline constexpr std::string_view kPluginSection = "veltra_mach_drv";
// The host's own section; the plugin only reads it.
inline constexpr std::string_view kHostSection = "Preferences";

// The profile file: the text the host passes to SetProName, used unchanged.
std::string& ProfilePath();

class ProfileDocument {
 public:
  // Loads the file at ProfilePath; a missing or unusable file leaves an
  // empty document with a new "profile" root.
  static ProfileDocument Open();

  // Writes the document back and ends its use. A file that was there but
  // could not be loaded is left as it is: writing would replace the user's
  // whole machine configuration with the plugin's keys alone; so is a
  // read-only file. The file is written beside the profile and then renamed
  // over it, so a crash or a full disk never leaves a truncated profile.
  // True when it was written.
  bool Close();

  platform::XmlLoadResult LoadResult() const { return loadResult_; }

  // An absent key, or one with empty text, yields the default; an empty key
  // of the plugin's section is also removed, so the next write of the file
  // drops it.
  std::int32_t ReadInt(std::string_view section, std::string_view key, std::int32_t defaultValue);
  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue);
  // Creates the section and the key where missing. A write the document
  // refuses is reported in a message box; false then.
  bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  platform::XmlElement FindKey(std::string_view section, std::string_view key);
  platform::XmlElement FindOrCreateKey(std::string_view section, std::string_view key);
  // The key's text; empty when absent or empty (and then dropped as above).
  std::string ReadText(std::string_view section, std::string_view key);

  std::unique_ptr<platform::XmlDocument> document_;
  std::string path_;
  platform::XmlLoadResult loadResult_ = platform::XmlLoadResult::Missing;
};

// The document the running load or save works on; null between them.
extern ProfileDocument* CurrentProfile;

// The C run time's reading of a decimal integer, as the profile's integers
// have always been read: leading blanks and a sign, then digits up to the
// first other character; no digits give 0. Only the first
// kIntegerTextMaxLength characters count; values beyond 32 bits saturate.
inline constexpr std::size_t kIntegerTextMaxLength = 19;
std::int32_t ParseProfileInt(std::string_view text);

// Where Close writes the new file before renaming it over the profile.
std::filesystem::path TemporaryProfilePath(const std::filesystem::path& profile);

}  // namespace veltra::settings
