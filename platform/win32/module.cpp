// The version resource and the resources of the module this code is linked
// into (the plugin DLL, or a test program). Registered values take the place
// of the module's own, for tests.
#include "platform/module.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace {

struct Overrides {
  std::mutex mutex;
  bool versionSet = false;
  std::optional<ProductVersion> version;
  std::map<std::pair<std::string, int>, std::span<const std::byte>> resources;
};

Overrides& TheOverrides() {
  static Overrides overrides;
  return overrides;
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

std::optional<ProductVersion> VersionResource() {
  char path[MAX_PATH];
  if (!GetModuleFileNameA(OwnModule(), path, sizeof path)) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return std::nullopt;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return std::nullopt;
  return ProductVersion{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                        HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
}

}  // namespace

std::optional<ProductVersion> ModuleProductVersion() {
  {
    std::lock_guard lock(TheOverrides().mutex);
    if (TheOverrides().versionSet) return TheOverrides().version;
  }
  return VersionResource();
}

std::span<const std::byte> FindModuleResource(std::string_view type, int id) {
  {
    std::lock_guard lock(TheOverrides().mutex);
    auto found = TheOverrides().resources.find({std::string(type), id});
    if (found != TheOverrides().resources.end()) return found->second;
  }
  const std::string typeName(type);
  HMODULE module = OwnModule();
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), typeName.c_str());
  if (!resource) return {};
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return {static_cast<const std::byte*>(bytes), SizeofResource(module, resource)};
}

void RegisterModuleVersion(std::optional<ProductVersion> version) {
  std::lock_guard lock(TheOverrides().mutex);
  TheOverrides().versionSet = true;
  TheOverrides().version = version;
}

void RegisterModuleResource(std::string_view type, int id, std::span<const std::byte> bytes) {
  std::lock_guard lock(TheOverrides().mutex);
  TheOverrides().resources[{std::string(type), id}] = bytes;
}

}  // namespace platform
