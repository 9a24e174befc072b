#include "platform/xml.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "plugin_fixture.h"

namespace veltra {
namespace {

using platform::XmlDocument;
using platform::XmlElement;
using platform::XmlLoadResult;

class XmlDocumentTest : public testing::PluginTest {
 protected:
  std::unique_ptr<XmlDocument> document = XmlDocument::Create();
};

TEST_F(XmlDocumentTest, LoadTellsAMissingFileFromOneItCannotUse) {
  ASSERT_TRUE(document);
  EXPECT_EQ(document->Load(ProfilePath()), XmlLoadResult::Missing);
  EXPECT_EQ(document->Load(""), XmlLoadResult::Missing);

  const struct {
    const char* description;
    const char* contents;
  } unusable[] = {{"not well-formed", "<profile><a>1</profile>"}, {"empty", ""}, {"text only", "just text"}};
  for (const auto& c : unusable) {
    WriteProfile(c.contents);
    EXPECT_EQ(document->Load(ProfilePath()), XmlLoadResult::Unreadable) << c.description;
    EXPECT_FALSE(document->DocumentElement()) << c.description;
  }
  std::filesystem::remove(ProfilePath());
  std::filesystem::create_directory(ProfilePath());
  EXPECT_EQ(document->Load(ProfilePath()), XmlLoadResult::Unreadable) << "a directory";
  EXPECT_FALSE(document->Save(ProfilePath())) << "a directory";
}

TEST_F(XmlDocumentTest, ElementsAreFoundCreatedAndRemovedByName) {
  WriteProfile("<profile><a><k>one</k><k>two</k></a><b/></profile>");
  ASSERT_EQ(document->Load(ProfilePath()), XmlLoadResult::Loaded);
  const XmlElement root = document->DocumentElement();
  const XmlElement a = document->FirstChildElement(root, "a");
  const XmlElement k = document->FirstChildElement(a, "k");
  EXPECT_EQ(document->Text(k), "one");
  EXPECT_EQ(document->Text(document->FirstChildElement(document->Parent(k), "k")), "one");
  EXPECT_FALSE(document->Parent(root));
  EXPECT_FALSE(document->FirstChildElement(root, "k")) << "only children are searched";
  EXPECT_FALSE(document->FirstChildElement(XmlElement(), "a"));

  const XmlElement added = document->AppendChild(document->FirstChildElement(root, "b"), document->CreateElement("n"));
  ASSERT_TRUE(added);
  EXPECT_TRUE(document->SetText(added, "x"));
  EXPECT_FALSE(document->AppendDocumentElement(document->CreateElement("second"))) << "one root only";
  EXPECT_FALSE(document->CreateElement("1st")) << "not an XML name";
  EXPECT_FALSE(document->CreateElement("a b"));
  EXPECT_FALSE(document->RemoveChild(root, k)) << "not a child of the root";
  EXPECT_TRUE(document->RemoveChild(a, k));
  EXPECT_EQ(document->Text(document->FirstChildElement(a, "k")), "two");

  ASSERT_TRUE(document->Save(ProfilePath()));
  ASSERT_EQ(document->Load(ProfilePath()), XmlLoadResult::Loaded);
  const XmlElement b = document->FirstChildElement(document->DocumentElement(), "b");
  EXPECT_EQ(document->Text(document->FirstChildElement(b, "n")), "x");
}

TEST_F(XmlDocumentTest, TextIsReplacedWholeAndRefusedWhereXmlCannotCarryIt) {
  const XmlElement root = document->AppendDocumentElement(document->CreateElement("profile"));
  ASSERT_TRUE(root);
  const XmlElement key = document->AppendChild(root, document->CreateElement("key"));
  document->AppendChild(key, document->CreateElement("inner"));
  EXPECT_TRUE(document->SetText(key, "a < b & \"c\""));
  EXPECT_EQ(document->Text(key), "a < b & \"c\"");
  EXPECT_FALSE(document->FirstChildElement(key, "inner")) << "the text replaces what was inside";
  EXPECT_TRUE(document->SetText(key, "tab\tand\nline"));

  EXPECT_FALSE(document->SetText(key, std::string("bell\a")));
  EXPECT_FALSE(document->SetText(XmlElement(), "x"));
  EXPECT_TRUE(document->SetText(key, ""));
  EXPECT_EQ(document->Text(key), "");
}

TEST_F(XmlDocumentTest, ARewriteKeepsDeclarationCommentsEntitiesAndEncoding) {
  // An ISO-8859-1 file: the e-acute is the single byte 0xE9.
  WriteProfile(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "<!-- host profile -->\n"
      "<profile><Preferences><Title>Fr\xE9sage &amp; co</Title><?host keep?></Preferences></profile>");
  ASSERT_EQ(document->Load(ProfilePath()), XmlLoadResult::Loaded);
  const XmlElement preferences = document->FirstChildElement(document->DocumentElement(), "Preferences");
  // Texts cross as UTF-8 on Linux and in the system code page on Windows.
#if defined(_WIN32)
  EXPECT_EQ(document->Text(document->FirstChildElement(preferences, "Title")), "Fr\xE9sage & co");
#else
  EXPECT_EQ(document->Text(document->FirstChildElement(preferences, "Title")), "Fr\xC3\xA9sage & co");
#endif
  ASSERT_TRUE(document->Save(ProfilePath()));

  const std::string written = ReadProfile();
  EXPECT_NE(written.find("encoding=\"ISO-8859-1\""), std::string::npos) << written;
  EXPECT_NE(written.find("<!-- host profile -->"), std::string::npos) << written;
  EXPECT_NE(written.find("<?host keep?>"), std::string::npos) << written;
  EXPECT_NE(written.find("&amp; co"), std::string::npos) << written;
#if !defined(_WIN32)
  // Wine's DOM writes UTF-8 whatever the declaration says; Windows' own and
  // pugixml keep the file's encoding.
  EXPECT_NE(written.find("Fr\xE9sage &amp; co"), std::string::npos) << written;
#endif
}

}  // namespace
}  // namespace veltra
