// Keyboard state the THC keypad control reads: the Num Lock toggle and two
// keys of the numeric keypad.
#pragma once

namespace platform {

enum class Key { Numpad9, Numpad3 };

bool NumLockOn();
bool KeyHeld(Key key);

// Set by a host stand-in that has no real keyboard; on Windows a value set
// here takes the place of the real key state.
void SetNumLock(bool on);
void SetKeyHeld(Key key, bool held);

}  // namespace platform
