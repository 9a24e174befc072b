#include "cycle/thc.h"

namespace veltra::cycle {

ThcRuntime& Thc() {
  static ThcRuntime state;
  return state;
}

}  // namespace veltra::cycle
