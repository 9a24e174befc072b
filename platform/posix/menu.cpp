#include "platform/menu.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

struct MenuTag {
  struct Item {
    MenuItemType type = MenuItemType::String;
    std::uint32_t id = 0;
    std::string text;
    Menu popup = nullptr;
  };
  std::vector<Item> items;
};

namespace {

struct MenuRegistry {
  std::recursive_mutex mutex;
  std::set<Menu> menus;  // every live menu, so stale handles are refused
  std::map<Window, Menu> windowMenus;
};

MenuRegistry& Registry() {
  static MenuRegistry registry;
  return registry;
}

// Callers hold the registry lock.
MenuTag::Item* ItemAt(Menu menu, int position) {
  if (!Registry().menus.contains(menu) || position < 0 ||
      position >= static_cast<int>(menu->items.size())) {
    return nullptr;
  }
  return &menu->items[static_cast<std::size_t>(position)];
}

MenuTag::Item* FindById(Menu menu, std::uint32_t id) {
  if (!Registry().menus.contains(menu)) return nullptr;
  for (MenuTag::Item& item : menu->items) {
    if (item.type == MenuItemType::Popup) {
      if (MenuTag::Item* inner = FindById(item.popup, id)) return inner;
    } else if (item.id == id) {
      return &item;
    }
  }
  return nullptr;
}

Menu NewMenu() {
  auto* menu = new MenuTag;
  std::lock_guard lock(Registry().mutex);
  Registry().menus.insert(menu);
  return menu;
}

bool Append(Menu menu, MenuTag::Item item) {
  std::lock_guard lock(Registry().mutex);
  if (!Registry().menus.contains(menu)) return false;
  menu->items.push_back(std::move(item));
  return true;
}

}  // namespace

Menu CreateMenuBar() { return NewMenu(); }
Menu CreatePopupMenu() { return NewMenu(); }

void DestroyMenu(Menu menu) {
  std::lock_guard lock(Registry().mutex);
  if (!Registry().menus.erase(menu)) return;
  for (MenuTag::Item& item : menu->items) {
    if (item.popup) DestroyMenu(item.popup);
  }
  std::erase_if(Registry().windowMenus, [&](const auto& entry) { return entry.second == menu; });
  delete menu;
}

bool SetWindowMenu(Window window, Menu menu) {
  std::lock_guard lock(Registry().mutex);
  if (menu && !Registry().menus.contains(menu)) return false;
  Registry().windowMenus[window] = menu;
  return true;
}

Menu GetWindowMenu(Window window) {
  std::lock_guard lock(Registry().mutex);
  auto found = Registry().windowMenus.find(window);
  return found == Registry().windowMenus.end() ? nullptr : found->second;
}

bool AppendMenuString(Menu menu, std::uint32_t id, std::string_view text) {
  return Append(menu, {MenuItemType::String, id, std::string(text), nullptr});
}

bool AppendMenuPopup(Menu menu, Menu popup, std::string_view text) {
  std::lock_guard lock(Registry().mutex);
  if (!Registry().menus.contains(popup)) return false;
  return Append(menu, {MenuItemType::Popup, 0, std::string(text), popup});
}

bool AppendMenuSeparator(Menu menu) { return Append(menu, {MenuItemType::Separator, 0, {}, nullptr}); }

int MenuItemCount(Menu menu) {
  std::lock_guard lock(Registry().mutex);
  return Registry().menus.contains(menu) ? static_cast<int>(menu->items.size()) : -1;
}

int MenuItemTextLength(Menu menu, int position) {
  std::lock_guard lock(Registry().mutex);
  const MenuTag::Item* item = ItemAt(menu, position);
  if (!item || item->type == MenuItemType::Separator) return -1;
  return static_cast<int>(item->text.size());
}

int MenuItemText(Menu menu, int position, char* buffer, int size) {
  std::lock_guard lock(Registry().mutex);
  const MenuTag::Item* item = ItemAt(menu, position);
  if (!item || item->type == MenuItemType::Separator || !buffer || size <= 0) return -1;
  const int count = std::min(static_cast<int>(item->text.size()), size - 1);
  std::memcpy(buffer, item->text.data(), static_cast<std::size_t>(count));
  buffer[count] = '\0';
  return count;
}

Menu MenuItemPopup(Menu menu, int position) {
  std::lock_guard lock(Registry().mutex);
  const MenuTag::Item* item = ItemAt(menu, position);
  return item ? item->popup : nullptr;
}

std::uint32_t MenuItemId(Menu menu, int position) {
  std::lock_guard lock(Registry().mutex);
  const MenuTag::Item* item = ItemAt(menu, position);
  return item && item->type == MenuItemType::String ? item->id : 0;
}

bool FindMenuItemById(Menu menu, std::uint32_t id, MenuItemInfo* info) {
  std::lock_guard lock(Registry().mutex);
  const MenuTag::Item* item = FindById(menu, id);
  if (!item) return false;
  if (info) *info = MenuItemInfo{item->type, item->id, item->text};
  return true;
}

bool SetMenuItemId(Menu menu, std::uint32_t id, std::uint32_t newId) {
  std::lock_guard lock(Registry().mutex);
  MenuTag::Item* item = FindById(menu, id);
  if (!item) return false;
  item->id = newId;
  return true;
}

}  // namespace platform
