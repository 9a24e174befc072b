// The module's version record, registered when the library loads (a Windows
// build carries it as a version resource instead).
#include "platform/module.h"
#include "version.h"

namespace {

const bool registered = [] {
  platform::RegisterModuleVersion(platform::ProductVersion{VELTRA_VERSION_MAJOR, VELTRA_VERSION_MINOR,
                                                           VELTRA_VERSION_PATCH, VELTRA_VERSION_TWEAK});
  return true;
}();

}  // namespace
