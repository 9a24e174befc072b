// The built library exports exactly the 21 entry points, read from the
// dynamic symbol table of the file itself.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  for (int s = 0; s < header.e_shnum; ++s) {
    Elf64_Shdr section;
    std::memcpy(&section, image.data() + header.e_shoff + static_cast<std::size_t>(s) * header.e_shentsize,
                sizeof section);
    if (section.sh_type != SHT_DYNSYM) continue;
    Elf64_Shdr strings;
    std::memcpy(&strings, image.data() + header.e_shoff + static_cast<std::size_t>(section.sh_link) * header.e_shentsize,
                sizeof strings);
    for (std::size_t at = 0; at + sizeof(Elf64_Sym) <= section.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, image.data() + section.sh_offset + at, sizeof symbol);
      const int binding = ELF64_ST_BIND(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
      names.insert(image.data() + strings.sh_offset + symbol.st_name);
    }
  }
  return names;
}

TEST(PluginLibrary, ExportsExactlyTheTwentyOneEntryPoints) {
  const std::set<std::string> expected{
      "Config",    "DoDwell",         "Home",       "InitControl", "JogOff",      "JogOn",          "Notify",
      "PostInitControl", "Probe",     "Purge",      "Reset",       "SetCode",     "SetDoButton",    "SetGetDRO",
      "SetGetLED", "SetGetMenuRange", "SetProName", "SetSetDRO",   "SetSetLED",   "StopPlug",       "Update"};
  EXPECT_EQ(DefinedDynamicSymbols(VELTRA_PLUGIN_LIBRARY), expected);
}

}  // namespace
