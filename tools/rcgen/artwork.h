// The tray client's artwork, drawn in code: the application icon, the
// menu button's normal and hot icons, the about box's logo and the dialogs'
// banner. Geometric shapes only (a ring with a tail for the "Q", speed
// chevrons), so nothing is taken from elsewhere.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace qx::rcgen {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

// A picture of width x height pixels, top row first.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
  Image(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}
  Rgba& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)]; }
  const Rgba& at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
};

// File images: an .ico with 32-bit entries (and their AND masks), and a
// 24-bit .bmp.
std::vector<std::uint8_t> EncodeIcon(const std::vector<Image>& sizes);
std::vector<std::uint8_t> EncodeBitmap(const Image& image);

// The artwork of a resource id (icons: 128, 133, 134; bitmaps: 155, 159);
// an unknown id gives an empty file.
std::vector<std::uint8_t> DrawIcon(int id);
std::vector<std::uint8_t> DrawBitmap(int id);

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace qx::rcgen
