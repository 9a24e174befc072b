#include "ui/modal.h"

#include <utility>

namespace veltra::ui {
namespace {
ModalDialogRunner runner;
}

DialogResult RunModal(ModalDialog dialog) { return runner ? runner(dialog) : DialogResult::Cancel; }

void SetModalDialogRunner(ModalDialogRunner newRunner) { runner = std::move(newRunner); }

}  // namespace veltra::ui
