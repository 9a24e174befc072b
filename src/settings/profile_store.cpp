#include "settings/profile_store.h"

#include <limits>
#include <system_error>

#include "platform/message_box.h"

namespace veltra::settings {
namespace {

namespace fs = std::filesystem;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The file itself where the profile path is a symbolic link to it, so that
// the rename replaces the file and not the link.
fs::path ResolvedProfileFile(const std::string& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  return error ? fs::path(path) : resolved;
}

void RemoveLeftover(const fs::path& temporary) {
  std::error_code error;
  if (fs::is_regular_file(fs::symlink_status(temporary, error))) fs::remove(temporary, error);
}

bool ReplaceFile(platform::XmlDocument& document, const std::string& path) {
  const fs::path target = ResolvedProfileFile(path);
  std::error_code error;
  const fs::file_status original = fs::status(target, error);
  const bool exists = !error && fs::exists(original);
  // Renaming would get past a read-only profile, which writing it in place
  // never did: the user's protection stands.
  constexpr fs::perms kAnyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if (exists && (original.permissions() & kAnyWrite) == fs::perms::none) return false;

  const fs::path temporary = TemporaryProfilePath(target);
  if (!document.Save(temporary.string())) {
    RemoveLeftover(temporary);
    return false;
  }
  if (exists) fs::permissions(temporary, original.permissions(), error);
  fs::rename(temporary, target, error);
  if (error) {
    RemoveLeftover(temporary);
    return false;
  }
  return true;
}

}  // namespace

ProfileDocument* CurrentProfile = nullptr;

std::string& ProfilePath() {
  static std::string path;
  return path;
}

fs::path TemporaryProfilePath(const fs::path& profile) {
  fs::path temporary = profile;
  temporary += ".tmp";
  return temporary;
}

std::int32_t ParseProfileInt(std::string_view text) {
  text = text.substr(0, kIntegerTextMaxLength);
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // One past the largest magnitude, so that the most negative value fits.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude < kLimit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (negative) return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                           : static_cast<std::int32_t>(-magnitude);
  return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(magnitude);
}

ProfileDocument ProfileDocument::Open() {
  ProfileDocument profile;
  profile.document_ = platform::XmlDocument::Create();
  if (!profile.document_) {
    // Reads then yield their defaults and nothing is written.
    platform::ShowMessageBox("Error creating XMLDoc instance!");
    return profile;
  }
  profile.path_ = ProfilePath();
  profile.loadResult_ = profile.document_->Load(profile.path_);
  if (!profile.document_->DocumentElement()) {
    profile.document_->AppendDocumentElement(profile.document_->CreateElement("profile"));
  }
  return profile;
}

bool ProfileDocument::Close() {
  const std::unique_ptr<platform::XmlDocument> document = std::move(document_);
  if (!document || path_.empty() || loadResult_ == platform::XmlLoadResult::Unreadable) return false;
  return ReplaceFile(*document, path_);
}

platform::XmlElement ProfileDocument::FindKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  const platform::XmlElement sectionElement = document_->FirstChildElement(document_->DocumentElement(), section);
  return document_->FirstChildElement(sectionElement, key);
}

platform::XmlElement ProfileDocument::FindOrCreateKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  const platform::XmlElement root = document_->DocumentElement();
  platform::XmlElement sectionElement = document_->FirstChildElement(root, section);
  if (!sectionElement) sectionElement = document_->AppendChild(root, document_->CreateElement(section));
  const platform::XmlElement keyElement = document_->FirstChildElement(sectionElement, key);
  if (keyElement) return keyElement;
  return document_->AppendChild(sectionElement, document_->CreateElement(key));
}

std::string ProfileDocument::ReadText(std::string_view section, std::string_view key) {
  const platform::XmlElement element = FindKey(section, key);
  if (!element) return {};
  std::string text = document_->Text(element);
  // Only the plugin's own keys are tidied away; the host's sections are
  // read, never changed.
  if (text.empty() && section == kPluginSection) document_->RemoveChild(document_->Parent(element), element);
  return text;
}

std::int32_t ProfileDocument::ReadInt(std::string_view section, std::string_view key, std::int32_t defaultValue) {
  const std::string text = ReadText(section, key);
  return text.empty() ? defaultValue : ParseProfileInt(text);
}

std::string ProfileDocument::ReadString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue) {
  std::string text = ReadText(section, key);
  return text.empty() ? std::string(defaultValue) : text;
}

bool ProfileDocument::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
  if (!document_) return false;
  const platform::XmlElement element = FindOrCreateKey(section, key);
  if (element && document_->SetText(element, std::to_string(value))) return true;
  platform::ShowMessageBox("Error writing profile int!");
  return false;
}

bool ProfileDocument::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!document_) return false;
  const platform::XmlElement element = FindOrCreateKey(section, key);
  if (element && document_->SetText(element, value)) return true;
  platform::ShowMessageBox("Error writing profile string!");
  return false;
}

}  // namespace veltra::settings
