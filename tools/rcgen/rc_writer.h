// The resource script text of dialogs, menus, icons and bitmaps.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qx::rcgen {

struct ResourceFile {
  int id;
  std::string path;
};

struct ClientResources {
  std::vector<const DialogTemplate*> dialogs;
  std::vector<const MenuTemplate*> menus;
  std::vector<ResourceFile> icons;
  std::vector<ResourceFile> bitmaps;
};

// A resource-script string literal: quotes doubled, backslashes and line
// ends escaped, the rest as UTF-8 (the script declares code page 65001).
std::string Quote(std::u16string_view text);
// The whole script.
std::string ResourceScript(const ClientResources& resources);

}  // namespace qx::rcgen
