// Modal dialogs the plugin runs on the host's thread. The dialog windows are
// built by the user-interface layer; where none is shown (headless Linux
// tests, the console host) a runner decides how the dialog ends, after
// editing whatever settings it wants, as the user would.
#pragma once

#include <functional>

namespace veltra::ui {

enum class ModalDialog { Configuration, NetworkSetup, FirmwareUpdate };
enum class DialogResult { Ok, Cancel };

using ModalDialogRunner = std::function<DialogResult(ModalDialog)>;

DialogResult RunModal(ModalDialog dialog);
// An empty runner restores the default, which cancels.
void SetModalDialogRunner(ModalDialogRunner runner);

}  // namespace veltra::ui
