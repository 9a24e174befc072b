#include "platform/module.h"

#include <map>
#include <mutex>
#include <utility>

namespace platform {
namespace {

struct ModuleRecord {
  std::mutex mutex;
  std::optional<ProductVersion> version;
  std::map<std::pair<std::string, int>, std::span<const std::byte>> resources;
};

ModuleRecord& Record() {
  static ModuleRecord record;
  return record;
}

}  // namespace

std::optional<ProductVersion> ModuleProductVersion() {
  std::lock_guard lock(Record().mutex);
  return Record().version;
}

std::span<const std::byte> FindModuleResource(std::string_view type, int id) {
  std::lock_guard lock(Record().mutex);
  auto found = Record().resources.find({std::string(type), id});
  return found == Record().resources.end() ? std::span<const std::byte>{} : found->second;
}

void RegisterModuleVersion(std::optional<ProductVersion> version) {
  std::lock_guard lock(Record().mutex);
  Record().version = version;
}

void RegisterModuleResource(std::string_view type, int id, std::span<const std::byte> bytes) {
  std::lock_guard lock(Record().mutex);
  Record().resources[{std::string(type), id}] = bytes;
}

}  // namespace platform
