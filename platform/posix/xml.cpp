// The XML document model on pugixml.
#include "platform/xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <pugixml.hpp>

#include "xml_rules.h"

namespace platform {
namespace {

// Declarations, comments, processing instructions and the document type are
// kept, so that a rewrite leaves the rest of the file as it was.
constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype;

pugi::xml_node NodeOf(XmlElement element) {
  return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(element.Node()));
}

XmlElement ElementOf(pugi::xml_node node) {
  return node.type() == pugi::node_element ? XmlElement(reinterpret_cast<XmlNode*>(node.internal_object()))
                                           : XmlElement();
}

void AppendText(pugi::xml_node node, std::string& text) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    } else if (child.type() == pugi::node_element) {
      AppendText(child, text);
    }
  }
}

class StringWriter : public pugi::xml_writer {
 public:
  void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
  std::string text;
};

// All bytes on the disk before the call returns, so that a file renamed
// into place afterwards is complete even after a power loss.
bool WriteFileDurably(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  std::size_t written = 0;
  bool ok = true;
  while (ok && written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      ok = false;
    }
  }
  ok = ok && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

class PugiDocument final : public XmlDocument {
 public:
  XmlLoadResult Load(const std::string& path) override {
    document_.reset();
    encoding_ = pugi::encoding_auto;
    struct stat info {};
    if (path.empty() || (::stat(path.c_str(), &info) != 0 && errno == ENOENT)) return XmlLoadResult::Missing;
    // Anything but a plain file (a directory, a device) is no profile.
    if (!S_ISREG(info.st_mode)) return XmlLoadResult::Unreadable;
    const pugi::xml_parse_result result = document_.load_file(path.c_str(), kParseFlags, pugi::encoding_auto);
    if (!result) {
      document_.reset();
      return XmlLoadResult::Unreadable;
    }
    // Written back in the encoding it came in.
    encoding_ = result.encoding;
    return XmlLoadResult::Loaded;
  }

  bool Save(const std::string& path) override {
    StringWriter writer;
    document_.save(writer, "\t", pugi::format_default, encoding_);
    return WriteFileDurably(path, writer.text);
  }

  XmlElement DocumentElement() override { return ElementOf(document_.document_element()); }

  XmlElement CreateElement(std::string_view name) override {
    if (!IsValidXmlName(name)) return {};
    // pugixml has no element outside a tree: new elements wait in a
    // document of their own until they are appended.
    return ElementOf(unattached_.append_child(std::string(name).c_str()));
  }

  XmlElement AppendDocumentElement(XmlElement element) override {
    if (document_.document_element()) return {};
    return Adopt(document_, element);
  }

  XmlElement AppendChild(XmlElement parent, XmlElement child) override {
    const pugi::xml_node parentNode = NodeOf(parent);
    if (!parent || parentNode.root() != document_) return {};
    return Adopt(parentNode, child);
  }

  bool RemoveChild(XmlElement parent, XmlElement child) override {
    if (!parent || !child || NodeOf(child).parent() != NodeOf(parent)) return false;
    return NodeOf(parent).remove_child(NodeOf(child));
  }

  XmlElement Parent(XmlElement element) override { return element ? ElementOf(NodeOf(element).parent()) : XmlElement(); }

  XmlElement FirstChildElement(XmlElement parent, std::string_view name) override {
    if (!parent) return {};
    return ElementOf(NodeOf(parent).child(std::string(name).c_str()));
  }

  std::string Text(XmlElement element) override {
    std::string text;
    if (element) AppendText(NodeOf(element), text);
    return text;
  }

  bool SetText(XmlElement element, std::string_view text) override {
    if (!element || !IsValidXmlText(text)) return false;
    pugi::xml_node node = NodeOf(element);
    while (node.first_child()) {
      if (!node.remove_child(node.first_child())) return false;
    }
    if (text.empty()) return true;
    pugi::xml_node textNode = node.append_child(pugi::node_pcdata);
    return textNode && textNode.set_value(std::string(text).c_str());
  }

 private:
  XmlElement Adopt(pugi::xml_node parent, XmlElement element) {
    pugi::xml_node node = NodeOf(element);
    if (!element || node.root() != unattached_) return {};
    const pugi::xml_node adopted = parent.append_copy(node);
    if (!adopted) return {};
    unattached_.remove_child(node);
    return ElementOf(adopted);
  }

  pugi::xml_document document_;
  pugi::xml_document unattached_;
  pugi::xml_encoding encoding_ = pugi::encoding_auto;
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::Create() {
  return std::unique_ptr<XmlDocument>(new (std::nothrow) PugiDocument);
}

}  // namespace platform
