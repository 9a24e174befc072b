#include "ui/thc_graph_samples.h"

#include <algorithm>

namespace veltra::ui {

void ThcGraphFeed::Append(float volts) {
  const std::lock_guard lock(mutex_);
  GraphSamples& ring = samples_;
  ring.samples[ring.writeIndex] = volts;
  ring.writeIndex = (ring.writeIndex + 1) % ring.capacity;
  ++ring.count;
  ++ring.total;
  ring.lastSample = volts;
}

void ThcGraphFeed::SetReferenceLevel(float volts) {
  const std::lock_guard lock(mutex_);
  samples_.referenceLevel = volts;
}

void ThcGraphFeed::SetTimePeriod(int seconds) {
  const int capacity =
      static_cast<int>(std::clamp<long long>(static_cast<long long>(seconds) * kGraphSamplesPerSecond, 1, kGraphSlots));
  const std::lock_guard lock(mutex_);
  GraphSamples& ring = samples_;
  if (capacity == ring.capacity) return;
  ring.capacity = capacity;
  if (ring.writeIndex >= capacity) ring.writeIndex = 0;
  ring.count = ring.writeIndex;
}

ThcGraphFeed& TheThcGraph() {
  static ThcGraphFeed feed;
  return feed;
}

}  // namespace veltra::ui
