#include "platform/menu.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {
HMENU H(Menu menu) { return reinterpret_cast<HMENU>(menu); }
Menu M(HMENU menu) { return reinterpret_cast<Menu>(menu); }

bool IsSeparator(Menu menu, int position) {
  const UINT state = GetMenuState(H(menu), static_cast<UINT>(position), MF_BYPOSITION);
  return state != static_cast<UINT>(-1) && (state & MF_SEPARATOR) && !GetSubMenu(H(menu), position);
}
}  // namespace

Menu CreateMenuBar() { return M(CreateMenu()); }
Menu CreatePopupMenu() { return M(::CreatePopupMenu()); }
void DestroyMenu(Menu menu) {
  if (menu) ::DestroyMenu(H(menu));
}
bool SetWindowMenu(Window window, Menu menu) { return SetMenu(reinterpret_cast<HWND>(window), H(menu)) != 0; }
Menu GetWindowMenu(Window window) { return M(GetMenu(reinterpret_cast<HWND>(window))); }

bool AppendMenuString(Menu menu, std::uint32_t id, std::string_view text) {
  const std::string copy(text);
  return AppendMenuA(H(menu), MF_STRING, id, copy.c_str()) != 0;
}

bool AppendMenuPopup(Menu menu, Menu popup, std::string_view text) {
  const std::string copy(text);
  return AppendMenuA(H(menu), MF_POPUP, reinterpret_cast<UINT_PTR>(H(popup)), copy.c_str()) != 0;
}

bool AppendMenuSeparator(Menu menu) { return AppendMenuA(H(menu), MF_SEPARATOR, 0, nullptr) != 0; }

int MenuItemCount(Menu menu) { return GetMenuItemCount(H(menu)); }

int MenuItemTextLength(Menu menu, int position) {
  if (position < 0 || position >= MenuItemCount(menu) || IsSeparator(menu, position)) return -1;
  return GetMenuStringA(H(menu), static_cast<UINT>(position), nullptr, 0, MF_BYPOSITION);
}

int MenuItemText(Menu menu, int position, char* buffer, int size) {
  const int length = MenuItemTextLength(menu, position);
  if (!buffer || size <= 0 || length < 0) return -1;
  // Read the whole text, then cut it: not every menu implementation
  // terminates a text it had to shorten.
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  const int got = GetMenuStringA(H(menu), static_cast<UINT>(position), text.data(), length + 1, MF_BYPOSITION);
  const int count = std::min(std::max(got, 0), size - 1);
  std::copy(text.begin(), text.begin() + count, buffer);
  buffer[count] = '\0';
  return count;
}

Menu MenuItemPopup(Menu menu, int position) { return M(GetSubMenu(H(menu), position)); }

std::uint32_t MenuItemId(Menu menu, int position) {
  const UINT id = GetMenuItemID(H(menu), position);
  return id == static_cast<UINT>(-1) ? 0 : id;
}

bool FindMenuItemById(Menu menu, std::uint32_t id, MenuItemInfo* info) {
  MENUITEMINFOA item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
  if (!GetMenuItemInfoA(H(menu), id, FALSE, &item)) return false;
  if (info) {
    std::vector<char> text(item.cch + 1);
    item.dwTypeData = text.data();
    item.cch += 1;
    GetMenuItemInfoA(H(menu), id, FALSE, &item);
    info->type = (item.fType & MFT_SEPARATOR) ? MenuItemType::Separator
                 : item.hSubMenu              ? MenuItemType::Popup
                                              : MenuItemType::String;
    info->id = item.wID;
    info->text = text.data();
  }
  return true;
}

bool SetMenuItemId(Menu menu, std::uint32_t id, std::uint32_t newId) {
  MENUITEMINFOA item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID;
  item.wID = newId;
  return SetMenuItemInfoA(H(menu), id, FALSE, &item) != 0;
}

}  // namespace platform
