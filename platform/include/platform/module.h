// The plugin module's own version record and resources (the firmware image,
// icons, cursors, the logo, dialog templates).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

struct ProductVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t build = 0;
  std::uint16_t revision = 0;
};

// The product version of the module that holds the plugin; empty when the
// module has no version record.
std::optional<ProductVersion> ModuleProductVersion();

// The bytes of a resource of the plugin module; empty when there is none.
std::span<const std::byte> FindModuleResource(std::string_view type, int id);

// Where resources are not part of the module file (Linux), the module
// registers them when it loads. Registering again replaces the entry.
void RegisterModuleVersion(std::optional<ProductVersion> version);
void RegisterModuleResource(std::string_view type, int id, std::span<const std::byte> bytes);

}  // namespace platform
