#include "settings/process_settings.h"

namespace veltra::settings {

ProcessSettings& Process() {
  static ProcessSettings settings;
  return settings;
}

}  // namespace veltra::settings
