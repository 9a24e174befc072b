#include "cycle/special_inputs.h"

namespace veltra::cycle {

SpecialInputs& Special() {
  static SpecialInputs state;
  return state;
}

}  // namespace veltra::cycle
