// The key state is the thread's own Windows keyboard state, which both the
// host and the plugin read on the host's thread; a host stand-in without a
// keyboard sets it for that thread.
#include "platform/keyboard.h"

#include <windows.h>

namespace platform {
namespace {

int VirtualKey(Key key) { return key == Key::Numpad9 ? VK_NUMPAD9 : VK_NUMPAD3; }

void SetKeyBits(int virtualKey, BYTE mask, bool on) {
  BYTE state[256];
  if (!GetKeyboardState(state)) return;
  state[virtualKey] = on ? (state[virtualKey] | mask) : (state[virtualKey] & ~mask);
  SetKeyboardState(state);
}

}  // namespace

bool NumLockOn() { return (GetKeyState(VK_NUMLOCK) & 1) != 0; }
bool KeyHeld(Key key) { return (GetKeyState(VirtualKey(key)) & 0x8000) != 0; }
void SetNumLock(bool on) { SetKeyBits(VK_NUMLOCK, 0x01, on); }
void SetKeyHeld(Key key, bool held) { SetKeyBits(VirtualKey(key), 0x80, held); }

}  // namespace platform
