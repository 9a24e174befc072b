#include "platform/keyboard.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<bool> numLock{false};
std::atomic<bool> numpad9{false};
std::atomic<bool> numpad3{false};

std::atomic<bool>& KeyState(Key key) { return key == Key::Numpad9 ? numpad9 : numpad3; }
}  // namespace

bool NumLockOn() { return numLock; }
bool KeyHeld(Key key) { return KeyState(key); }
void SetNumLock(bool on) { numLock = on; }
void SetKeyHeld(Key key, bool held) { KeyState(key) = held; }

}  // namespace platform
