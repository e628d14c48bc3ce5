// Writes the Windows resource script of the tray client from the same
// templates the simulated device builds its windows from, and the client's
// artwork (icons and bitmaps, drawn here, so the build needs nothing from
// outside). Usage: qxrcgen OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "client/resources.h"
#include "tools/rcgen/artwork.h"
#include "tools/rcgen/rc_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qxrcgen OUTPUT_DIR\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::cerr << "qxrcgen: cannot create " << dir << ": " << error.message() << "\n";
    return 1;
  }

  qx::rcgen::ClientResources resources;
  resources.dialogs = {&qx::MainDialogTemplate(), &qx::SettingsDialogTemplate(), &qx::AboutDialogTemplate()};
  resources.menus = {&qx::PopupMenuTemplate()};
  for (int id : qx::ClientIconIds()) {
    const auto file = dir / ("icon" + std::to_string(id) + ".ico");
    if (!qx::rcgen::WriteFile(file, qx::rcgen::DrawIcon(id))) {
      std::cerr << "qxrcgen: cannot write " << file << "\n";
      return 1;
    }
    resources.icons.push_back({id, file.string()});
  }
  for (int id : qx::ClientBitmapIds()) {
    const auto file = dir / ("bitmap" + std::to_string(id) + ".bmp");
    if (!qx::rcgen::WriteFile(file, qx::rcgen::DrawBitmap(id))) {
      std::cerr << "qxrcgen: cannot write " << file << "\n";
      return 1;
    }
    resources.bitmaps.push_back({id, file.string()});
  }

  const auto script = dir / "quorvix.rc";
  std::ofstream out(script, std::ios::binary);
  out << qx::rcgen::ResourceScript(resources);
  if (!out) {
    std::cerr << "qxrcgen: cannot write " << script << "\n";
    return 1;
  }
  return 0;
}
