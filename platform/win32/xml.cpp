// The XML document model on MSXML's DOMDocument, reached through COM. Texts
// cross in the system code page.
#include "platform/xml.h"

#include <windows.h>
#include <msxml2.h>
#include <objbase.h>

#include <new>
#include <string>
#include <vector>

#include "xml_rules.h"

namespace platform {
namespace {

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, int length) {
  if (!text || length <= 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

class Bstr {
 public:
  explicit Bstr(std::string_view text) : value_(SysAllocString(Wide(text).c_str())) {}
  Bstr() = default;
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return value_; }
  BSTR* Out() { return &value_; }
  std::string Text() const { return Narrow(value_, static_cast<int>(SysStringLen(value_))); }

 private:
  BSTR value_ = nullptr;
};

// A path as the text variant the DOM's load and save take.
class PathVariant {
 public:
  explicit PathVariant(const std::string& path) : text_(path) {
    VariantInit(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = text_.Get();
  }
  VARIANT Get() const { return value_; }

 private:
  Bstr text_;
  VARIANT value_;
};

class MsxmlDocument final : public XmlDocument {
 public:
  static std::unique_ptr<XmlDocument> Make() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID domDocument;
    IXMLDOMDocument* document = nullptr;
    if ((SUCCEEDED(CLSIDFromProgID(L"Msxml2.DOMDocument", &domDocument)) ||
         SUCCEEDED(CLSIDFromProgID(L"Microsoft.XMLDOM", &domDocument))) &&
        SUCCEEDED(CoCreateInstance(domDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   reinterpret_cast<void**>(&document)))) {
      document->put_async(VARIANT_FALSE);
      document->put_preserveWhiteSpace(VARIANT_TRUE);
      return std::unique_ptr<XmlDocument>(new (std::nothrow) MsxmlDocument(document, SUCCEEDED(com)));
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return nullptr;
  }

  ~MsxmlDocument() override {
    for (IXMLDOMElement* element : handles_) element->Release();
    document_->Release();
    if (comInitialized_) CoUninitialize();
  }

  XmlLoadResult Load(const std::string& path) override {
    Reset();
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return XmlLoadResult::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return XmlLoadResult::Unreadable;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const PathVariant file(path);
    if (FAILED(document_->load(file.Get(), &loaded)) || loaded != VARIANT_TRUE || !DocumentElement()) {
      Reset();
      return XmlLoadResult::Unreadable;
    }
    return XmlLoadResult::Loaded;
  }

  bool Save(const std::string& path) override {
    const PathVariant file(path);
    return SUCCEEDED(document_->save(file.Get()));
  }

  XmlElement DocumentElement() override {
    IXMLDOMElement* root = nullptr;
    return document_->get_documentElement(&root) == S_OK ? Keep(root) : XmlElement();
  }

  XmlElement CreateElement(std::string_view name) override {
    IXMLDOMElement* element = nullptr;
    const Bstr tag(name);
    return IsValidXmlName(name) && SUCCEEDED(document_->createElement(tag.Get(), &element)) ? Keep(element)
                                                                                           : XmlElement();
  }

  XmlElement AppendDocumentElement(XmlElement element) override {
    if (!element || DocumentElement()) return {};
    return Append(document_, element);
  }

  XmlElement AppendChild(XmlElement parent, XmlElement child) override {
    return parent && child ? Append(Element(parent), child) : XmlElement();
  }

  bool RemoveChild(XmlElement parent, XmlElement child) override {
    if (!parent || !child) return false;
    IXMLDOMNode* removed = nullptr;
    if (Element(parent)->removeChild(Element(child), &removed) != S_OK) return false;
    removed->Release();
    return true;
  }

  XmlElement Parent(XmlElement element) override {
    if (!element) return {};
    IXMLDOMNode* parent = nullptr;
    if (Element(element)->get_parentNode(&parent) != S_OK || !parent) return {};
    return KeepIfElement(parent);
  }

  XmlElement FirstChildElement(XmlElement parent, std::string_view name) override {
    if (!parent) return {};
    const Bstr wanted(name);
    IXMLDOMNode* child = nullptr;
    Element(parent)->get_firstChild(&child);
    while (child) {
      DOMNodeType type;
      Bstr childName;
      if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT && SUCCEEDED(child->get_nodeName(childName.Out())) &&
          VarBstrCmp(childName.Get(), wanted.Get(), LOCALE_INVARIANT, 0) == static_cast<HRESULT>(VARCMP_EQ)) {
        return KeepIfElement(child);
      }
      IXMLDOMNode* next = nullptr;
      child->get_nextSibling(&next);
      child->Release();
      child = next;
    }
    return {};
  }

  std::string Text(XmlElement element) override {
    Bstr text;
    if (!element || FAILED(Element(element)->get_text(text.Out()))) return {};
    return text.Text();
  }

  bool SetText(XmlElement element, std::string_view text) override {
    if (!element || !IsValidXmlText(text)) return false;
    // The children go first, one by one, so that elements still held by a
    // handle outlive their removal (Wine's DOM frees what the text setter
    // replaces even while it is referenced).
    IXMLDOMNode* child = nullptr;
    while (Element(element)->get_firstChild(&child) == S_OK && child) {
      IXMLDOMNode* removed = nullptr;
      const HRESULT result = Element(element)->removeChild(child, &removed);
      child->Release();
      if (result != S_OK) return false;
      removed->Release();
    }
    if (text.empty()) return true;
    const Bstr value(text);
    return Element(element)->put_text(value.Get()) == S_OK;
  }

 private:
  MsxmlDocument(IXMLDOMDocument* document, bool comInitialized)
      : document_(document), comInitialized_(comInitialized) {}

  static IXMLDOMElement* Element(XmlElement element) { return reinterpret_cast<IXMLDOMElement*>(element.Node()); }

  // The document keeps every element it hands out until it is destroyed,
  // so that a handle stays valid as long as the interface promises.
  XmlElement Keep(IXMLDOMElement* element) {
    handles_.push_back(element);
    return XmlElement(reinterpret_cast<XmlNode*>(element));
  }

  XmlElement KeepIfElement(IXMLDOMNode* node) {
    IXMLDOMElement* element = nullptr;
    const bool isElement = SUCCEEDED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)));
    node->Release();
    return isElement ? Keep(element) : XmlElement();
  }

  template <typename Parent>
  XmlElement Append(Parent* parent, XmlElement child) {
    IXMLDOMNode* appended = nullptr;
    if (parent->appendChild(Element(child), &appended) != S_OK || !appended) return {};
    return KeepIfElement(appended);
  }

  void Reset() {
    IXMLDOMElement* root = nullptr;
    if (document_->get_documentElement(&root) == S_OK && root) {
      IXMLDOMNode* removed = nullptr;
      if (document_->removeChild(root, &removed) == S_OK && removed) removed->Release();
      root->Release();
    }
  }

  IXMLDOMDocument* document_;
  bool comInitialized_;
  std::vector<IXMLDOMElement*> handles_;
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::Create() { return MsxmlDocument::Make(); }

}  // namespace platform
