// The THC voltage graph's samples: the ring the cycle appends the torch
// voltage to and the graph window draws from, with the reference level. One
// lock guards all of it, because the window runs on a thread of its own. The
// ring lives as long as the plugin, whether or not the window is open.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace veltra::ui {

inline constexpr int kGraphSlots = 10000;
inline constexpr int kGraphSamplesPerSecond = 20;  // one sample per 50 ms
inline constexpr int kGraphInitialCapacity = 60 * kGraphSamplesPerSecond;

struct GraphSamples {
  std::array<float, kGraphSlots> samples{};  // volts
  int capacity = kGraphInitialCapacity;      // slots in use: the time period x 20
  int writeIndex = 0;                        // the next slot, below the capacity
  std::int64_t count = 0;                    // appended since the last clear, not limited
  std::int64_t total = 0;                    // appended ever; the graph shows it as time
  float lastSample = 0.0f;
  float referenceLevel = 0.0f;  // volts; 0: no reference line
};

class ThcGraphFeed {
 public:
  void Append(float volts);
  void SetReferenceLevel(float volts);
  // The ring spans the time period; a period whose ring would not fit the
  // slots (or hold no sample) is brought within them. A new span restarts
  // the ring's count at the write position.
  void SetTimePeriod(int seconds);

  // Runs f on the samples under the lock: what the window reads and clears.
  template <typename F>
  decltype(auto) WithSamples(F&& f) {
    const std::lock_guard lock(mutex_);
    return f(samples_);
  }

 private:
  std::mutex mutex_;
  GraphSamples samples_;
};

ThcGraphFeed& TheThcGraph();

}  // namespace veltra::ui
