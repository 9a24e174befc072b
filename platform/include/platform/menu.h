// Menus as the host's menu bar holds them: a bar of top-level items, each a
// drop-down of string items with command ids, separators and sub-menus.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/messages.h"

namespace platform {

struct MenuTag;
using Menu = MenuTag*;

enum class MenuItemType { String, Separator, Popup };

struct MenuItemInfo {
  MenuItemType type = MenuItemType::String;
  std::uint32_t id = 0;
  std::string text;
};

Menu CreateMenuBar();
Menu CreatePopupMenu();
// Destroys the menu and every drop-down it holds.
void DestroyMenu(Menu menu);
bool SetWindowMenu(Window window, Menu menu);
Menu GetWindowMenu(Window window);

bool AppendMenuString(Menu menu, std::uint32_t id, std::string_view text);
bool AppendMenuPopup(Menu menu, Menu popup, std::string_view text);
bool AppendMenuSeparator(Menu menu);

int MenuItemCount(Menu menu);
// Length of the item's text without the terminator; -1 when there is no
// such item or it has no text.
int MenuItemTextLength(Menu menu, int position);
// Copies at most size - 1 characters and a terminator; returns the count
// copied, or -1 when the text cannot be read.
int MenuItemText(Menu menu, int position, char* buffer, int size);
Menu MenuItemPopup(Menu menu, int position);
// The command id of a string item; 0 for separators, drop-downs and no item.
std::uint32_t MenuItemId(Menu menu, int position);

// Looks for the item with this command id in the menu and all its drop-downs.
bool FindMenuItemById(Menu menu, std::uint32_t id, MenuItemInfo* info);
bool SetMenuItemId(Menu menu, std::uint32_t id, std::uint32_t newId);

}  // namespace platform
