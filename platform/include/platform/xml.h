// The XML document model the host profile is kept in: a document loaded
// from and saved to a path, its elements reached by name and their text.
// Texts are 8-bit (UTF-8 on Linux, the system code page on Windows); the
// backend converts them for its library (pugixml on Linux, MSXML's
// DOMDocument on Windows).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The backend's own node type.
struct XmlNode;

// A handle to an element of one document, owned by that document: valid
// until the document is destroyed or the element is removed. The empty
// handle stands for "no element".
class XmlElement {
 public:
  XmlElement() = default;
  explicit XmlElement(XmlNode* node) : node_(node) {}
  explicit operator bool() const { return node_ != nullptr; }
  XmlNode* Node() const { return node_; }

 private:
  XmlNode* node_ = nullptr;
};

enum class XmlLoadResult {
  Loaded,
  Missing,     // there is no file at the path
  Unreadable,  // a file is there, but it cannot be read or is not well-formed XML
};

class XmlDocument {
 public:
  // An empty document; null when the XML library cannot create one.
  static std::unique_ptr<XmlDocument> Create();
  virtual ~XmlDocument() = default;

  // Replaces the content with the file's; on failure the document is empty.
  virtual XmlLoadResult Load(const std::string& path) = 0;
  // Writes the whole document to the path; false when it could not.
  virtual bool Save(const std::string& path) = 0;

  // The root element; empty when the document has none.
  virtual XmlElement DocumentElement() = 0;
  // A new element of this document that is not yet in its tree.
  virtual XmlElement CreateElement(std::string_view name) = 0;
  // Appends a new element as the document's root (there is none yet), or as
  // the last child of parent. The result is the element's handle from now
  // on (empty when refused); the one passed in is no longer used.
  virtual XmlElement AppendDocumentElement(XmlElement element) = 0;
  virtual XmlElement AppendChild(XmlElement parent, XmlElement child) = 0;
  virtual bool RemoveChild(XmlElement parent, XmlElement child) = 0;
  // Empty for the root.
  virtual XmlElement Parent(XmlElement element) = 0;
  virtual XmlElement FirstChildElement(XmlElement parent, std::string_view name) = 0;

  // The text the element holds (of all its descendants, in document order).
  virtual std::string Text(XmlElement element) = 0;
  // Replaces everything inside the element with the text. Refused (false)
  // when the element is empty, the text holds a character that XML cannot
  // carry, or the library fails.
  virtual bool SetText(XmlElement element, std::string_view text) = 0;
};

}  // namespace platform
