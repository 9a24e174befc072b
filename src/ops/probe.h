// Probing: the plugin plans the straight probe move itself and streams it;
// the controller stops it at contact, and the cycle ends it from the status
// frames.
#pragma once

namespace veltra::ops {

// The plugin's own source of straight moves, streamed like host motion.
struct StraightMovePlanner {
  bool PlannerActive = false;   // a planned move is being streamed
  bool PlannerStopped = false;  // the move was ended
};

StraightMovePlanner& ThePlanner();

// Ends the probe move at once: the planner stops and no axis probes.
void StopProbeMove();

}  // namespace veltra::ops
