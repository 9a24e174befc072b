// The motion phases the controller runs on its own once started: the
// threading start and the rigid tapping sequence, with the host's spindle
// driven through its own buttons.
#pragma once

namespace veltra::cycle {

// Rigid tapping states, kept in MotionState::SyncedMotionState.
namespace tap_state {
inline constexpr int kNone = 0;
inline constexpr int kAnnounced = 1;  // the host announced synchronised motion
inline constexpr int kSpindleStartingIn = 2;
inline constexpr int kStart = 3;
inline constexpr int kTappingIn = 4;
inline constexpr int kSpindleStopping = 5;
inline constexpr int kReverse = 6;
inline constexpr int kTappingOut = 7;
}  // namespace tap_state

// One step of the rigid tapping sequence per tick, online or not.
void RunRigidTapStep();
// A threading move the host asked for starts once the controller allows it.
void StartThreadingWhenAllowed();

}  // namespace veltra::cycle
