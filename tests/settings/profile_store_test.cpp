#include "settings/profile_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace veltra {
namespace {

using settings::kHostSection;
using settings::kPluginSection;
using settings::ProfileDocument;

TEST(ProfileInt, IsReadAsTheCRunTimeReadsIt) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"42", 42},
      {"-17", -17},
      {"+8", 8},
      {" \t\n\r\v\f7", 7},
      {"12abc", 12},
      {"3.9", 3},
      {"abc", 0},
      {"- 5", 0},
      {"--5", 0},
      {"", 0},
      {"2147483647", kMax},
      {"-2147483648", kMin},
      {"2147483648", kMax},
      {"-99999999999", kMin},
      // Only the first 19 characters count.
      {std::string(18, '0') + "12", 1},
      {std::string(18, ' ') + "9", 9},
      {std::string(19, ' ') + "9", 0},
      {"9999999999999999999999", kMax},
  };
  for (const auto& c : cases) EXPECT_EQ(settings::ParseProfileInt(c.text), c.value) << '"' << c.text << '"';
}

class ProfileStore : public testing::PluginTest {
 protected:
  ProfileStore() { settings::ProfilePath() = ProfilePath(); }
  ~ProfileStore() override { settings::ProfilePath().clear(); }

  pugi::xml_document Written() const {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_file(ProfilePath().c_str())) << ReadProfile();
    return document;
  }
  static std::vector<std::string> ChildNames(pugi::xml_node node) {
    std::vector<std::string> names;
    for (pugi::xml_node child : node.children()) names.push_back(child.name());
    return names;
  }
};

TEST_F(ProfileStore, AMissingFileBecomesAProfileRoot) {
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_EQ(profile.LoadResult(), platform::XmlLoadResult::Missing);
  EXPECT_EQ(profile.ReadInt(kPluginSection, "PWMFreq", 10000), 10000);
  EXPECT_EQ(profile.ReadString(kPluginSection, "ETH_NAME", "VELTRA-"), "VELTRA-");
  EXPECT_TRUE(profile.Close());
  const pugi::xml_document written = Written();
  EXPECT_EQ(ChildNames(written), std::vector<std::string>{"profile"}) << "reads create no section";
  EXPECT_TRUE(written.child("profile").children().empty());
}

TEST_F(ProfileStore, WritesCreateTheSectionOnceAndKeysInTheirOrderWithoutDuplicates) {
  WriteProfile("<profile><Preferences><Steps6>1000.</Steps6></Preferences></profile>");
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_TRUE(profile.WriteInt(kPluginSection, "B", 1));
  EXPECT_TRUE(profile.WriteString(kPluginSection, "A", "text"));
  EXPECT_TRUE(profile.WriteInt(kPluginSection, "B", -2));
  EXPECT_TRUE(profile.Close());

  const pugi::xml_document written = Written();
  const pugi::xml_node root = written.child("profile");
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"Preferences", "veltra_mach_drv"}));
  EXPECT_EQ(ChildNames(root.child("veltra_mach_drv")), (std::vector<std::string>{"B", "A"}));
  EXPECT_STREQ(root.child("veltra_mach_drv").child_value("B"), "-2");

  // A later write keeps the key where it stands and replaces its text.
  profile = ProfileDocument::Open();
  EXPECT_EQ(profile.ReadInt(kPluginSection, "B", 0), -2);
  EXPECT_EQ(profile.ReadString(kPluginSection, "A", ""), "text");
  profile.WriteString(kPluginSection, "C", "new");
  profile.WriteString(kPluginSection, "B", "7");
  EXPECT_TRUE(profile.Close());
  EXPECT_EQ(ChildNames(Written().child("profile").child("veltra_mach_drv")),
            (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_STREQ(Written().child("profile").child("veltra_mach_drv").child_value("B"), "7");
}

TEST_F(ProfileStore, EmptyPluginKeysYieldTheDefaultAndAreDroppedButTheHostsAreKept) {
  WriteProfile(
      "<profile><Preferences><Vel6></Vel6></Preferences>"
      "<veltra_mach_drv><PWMFreq></PWMFreq><ETH_NAME/><Kept>5</Kept></veltra_mach_drv></profile>");
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_EQ(profile.ReadInt(kPluginSection, "PWMFreq", 10000), 10000);
  EXPECT_EQ(profile.ReadString(kPluginSection, "ETH_NAME", "VELTRA-"), "VELTRA-");
  EXPECT_EQ(profile.ReadString(kHostSection, "Vel6", "1."), "1.");
  EXPECT_TRUE(profile.Close());

  const pugi::xml_document written = Written();
  const pugi::xml_node root = written.child("profile");
  EXPECT_EQ(ChildNames(root.child("veltra_mach_drv")), std::vector<std::string>{"Kept"});
  EXPECT_EQ(ChildNames(root.child("Preferences")), std::vector<std::string>{"Vel6"});
}

TEST_F(ProfileStore, AWriteTheDocumentRefusesIsReportedAndTheRestGoesOn) {
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_FALSE(profile.WriteString(kPluginSection, "ETH_NAME", "VELTRA-\x01"));
  EXPECT_TRUE(profile.WriteInt(kPluginSection, "ETH_BYIP", 0));
  EXPECT_TRUE(profile.Close());
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error writing profile string!"});
  EXPECT_STREQ(Written().child("profile").child("veltra_mach_drv").child_value("ETH_BYIP"), "0");
}

TEST_F(ProfileStore, AProfileThatCannotBeParsedIsNeverReplaced) {
  const std::string malformed = "<profile><Preferences><Steps6>2000</Steps6></Preferences><veltra_mach_drv>";
  WriteProfile(malformed);
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_EQ(profile.LoadResult(), platform::XmlLoadResult::Unreadable);
  EXPECT_EQ(profile.ReadString(kHostSection, "Steps6", "1000."), "1000.");
  profile.WriteInt(kPluginSection, "PWMFreq", 20000);
  EXPECT_FALSE(profile.Close());
  EXPECT_EQ(ReadProfile(), malformed);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(ProfileStore, TheNewFileReplacesTheOldOneOnlyOnceItIsComplete) {
  WriteProfile("<profile><veltra_mach_drv><PWMFreq>20000</PWMFreq></veltra_mach_drv></profile>");
  // Something that is not a file stands where the new one would be written.
  const std::filesystem::path temporary = settings::TemporaryProfilePath(ProfilePath());
  std::filesystem::create_directory(temporary);
  std::ofstream(temporary / "unrelated") << "x";
  const std::string before = ReadProfile();

  ProfileDocument profile = ProfileDocument::Open();
  profile.WriteInt(kPluginSection, "PWMFreq", 30000);
  EXPECT_FALSE(profile.Close());
  EXPECT_EQ(ReadProfile(), before);
  EXPECT_TRUE(std::filesystem::exists(temporary / "unrelated")) << "what was in the way is left alone";
}

TEST_F(ProfileStore, TheProfilesPermissionsStand) {
  using std::filesystem::perms;
  const std::string original = "<profile><veltra_mach_drv><PWMFreq>20000</PWMFreq></veltra_mach_drv></profile>";
  WriteProfile(original);
  std::filesystem::permissions(ProfilePath(), perms::owner_read | perms::group_read);
  ProfileDocument profile = ProfileDocument::Open();
  EXPECT_EQ(profile.ReadInt(kPluginSection, "PWMFreq", 10000), 20000);
  profile.WriteInt(kPluginSection, "PWMFreq", 30000);
  EXPECT_FALSE(profile.Close()) << "read-only";
  EXPECT_EQ(ReadProfile(), original);

  std::filesystem::permissions(ProfilePath(), perms::owner_read | perms::owner_write);
  profile = ProfileDocument::Open();
  profile.WriteInt(kPluginSection, "PWMFreq", 30000);
  EXPECT_TRUE(profile.Close());
  EXPECT_EQ(std::filesystem::status(ProfilePath()).permissions(), perms::owner_read | perms::owner_write);
}

TEST_F(ProfileStore, ASymbolicLinkedProfileIsWrittenThroughTheLink) {
  const std::filesystem::path target = ProfilePath() + ".target";
  std::ofstream(target) << "<profile/>";
  std::filesystem::create_symlink(target, ProfilePath());
  ProfileDocument profile = ProfileDocument::Open();
  profile.WriteInt(kPluginSection, "PWMFreq", 30000);
  EXPECT_TRUE(profile.Close());
  EXPECT_TRUE(std::filesystem::is_symlink(ProfilePath()));
  EXPECT_STREQ(Written().child("profile").child("veltra_mach_drv").child_value("PWMFreq"), "30000");
}

}  // namespace
}  // namespace veltra
