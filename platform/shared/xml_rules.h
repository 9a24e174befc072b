// What both document models refuse, so that the two builds write the same
// files: element names XML does not allow, and texts holding control
// characters, which no XML 1.0 document can carry, not even as character
// references (the host's own XML library would refuse to load such a file).
#pragma once

#include <string_view>

namespace platform {

inline bool IsXmlNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

inline bool IsValidXmlName(std::string_view name) {
  if (name.empty() || !IsXmlNameStart(static_cast<unsigned char>(name.front()))) return false;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (!IsXmlNameStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
  }
  return true;
}

inline bool IsValidXmlText(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

}  // namespace platform
