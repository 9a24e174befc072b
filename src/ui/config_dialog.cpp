#include "ui/config_dialog.h"

namespace veltra::ui {

ConfigDialog& TheConfigDialog() {
  static ConfigDialog dialog;
  return dialog;
}

}  // namespace veltra::ui
