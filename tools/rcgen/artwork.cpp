#include "tools/rcgen/artwork.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "client/resources.h"

namespace qx::rcgen {

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// BITMAPINFOHEADER of a DIB.
void PutInfoHeader(std::vector<std::uint8_t>& out, int width, int height, int bits, std::uint32_t imageBytes) {
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, imageBytes);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
}

Rgba Mix(Rgba a, Rgba b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  const auto m = [t](std::uint8_t x, std::uint8_t y) {
    return static_cast<std::uint8_t>(std::lround(x + (y - x) * t));
  };
  return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b), m(a.a, b.a)};
}

// Paints colour over the image where coverage (0..1) says, 4x4 samples a pixel.
template <class Shape>
void Paint(Image& image, Rgba colour, Shape inside) {
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          if (inside(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0)) ++hits;
        }
      }
      if (hits == 0) continue;
      const double cover = hits / 16.0 * (colour.a / 255.0);
      Rgba& p = image.at(x, y);
      const double outA = cover + (p.a / 255.0) * (1 - cover);
      if (outA <= 0) continue;
      const auto blend = [&](std::uint8_t src, std::uint8_t dst) {
        return static_cast<std::uint8_t>(
            std::lround((src * cover + dst * (p.a / 255.0) * (1 - cover)) / outA));
      };
      p = {blend(colour.r, p.r), blend(colour.g, p.g), blend(colour.b, p.b),
           static_cast<std::uint8_t>(std::lround(outA * 255))};
    }
  }
}

// The "Q": a ring centred at (cx, cy) with its tail towards the lower right.
void PaintQ(Image& image, double cx, double cy, double radius, double thickness, Rgba colour) {
  Paint(image, colour, [=](double x, double y) {
    const double d = std::hypot(x - cx, y - cy);
    if (d <= radius && d >= radius - thickness) return true;
    // The tail: a short bar along the diagonal, crossing the ring.
    const double u = ((x - cx) + (y - cy)) / std::sqrt(2.0);
    const double v = ((x - cx) - (y - cy)) / std::sqrt(2.0);
    return u >= radius * 0.45 && u <= radius * 1.25 && std::abs(v) <= thickness * 0.55;
  });
}

// Speed chevrons pointing right, starting at x0.
void PaintChevrons(Image& image, double x0, double cy, double size, int count, Rgba colour) {
  for (int i = 0; i < count; ++i) {
    const double left = x0 + i * size * 0.8;
    Paint(image, colour, [=](double x, double y) {
      const double dx = x - left;
      const double dy = std::abs(y - cy);
      return dx >= dy * 0.8 && dx <= dy * 0.8 + size * 0.3 && dy <= size * 0.5;
    });
  }
}

constexpr Rgba kNavy{16, 48, 112, 255};
constexpr Rgba kTeal{0, 150, 170, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kOrange{240, 130, 20, 255};
constexpr Rgba kPale{255, 236, 200, 255};

Image AppIcon(int size) {
  Image image(size, size);
  const double s = size;
  // A rounded tile with a vertical gradient, the white Q on it.
  for (int y = 0; y < size; ++y) {
    const Rgba row = Mix(kTeal, kNavy, y / s);
    Paint(image, row, [=](double x, double py) {
      if (py < y || py >= y + 1) return false;
      const double r = s * 0.2;
      const double cx = std::clamp(x, r, s - r);
      const double cy = std::clamp(py, r, s - r);
      return std::hypot(x - cx, py - cy) <= r;
    });
  }
  PaintQ(image, s * 0.47, s * 0.47, s * 0.33, s * 0.11, kWhite);
  return image;
}

Image ButtonIcon(bool hot) {
  Image image(16, 16);
  if (hot) Paint(image, kPale, [](double x, double y) { return std::hypot(x - 8, y - 8) <= 7.6; });
  PaintQ(image, 7.4, 7.4, 5.6, 2.0, hot ? kOrange : kNavy);
  return image;
}

Image Banner() {
  Image image(200, 26);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) image.at(x, y) = Mix(kNavy, kTeal, x / 199.0);
  }
  PaintChevrons(image, 8, 13, 14, 3, kWhite);
  PaintQ(image, 178, 13, 9, 3, kWhite);
  // A thin light rule along the bottom edge.
  Paint(image, Rgba{255, 255, 255, 160}, [](double, double y) { return y >= 24; });
  return image;
}

Image Logo() {
  Image image(180, 60);
  for (Rgba& p : image.pixels) p = kWhite;
  PaintQ(image, 30, 28, 20, 6, kNavy);
  PaintChevrons(image, 62, 30, 26, 4, kTeal);
  Paint(image, kOrange, [](double x, double y) { return y >= 52 && y <= 55 && x >= 62 && x <= 170; });
  return image;
}

}  // namespace

std::vector<std::uint8_t> EncodeIcon(const std::vector<Image>& sizes) {
  std::vector<std::vector<std::uint8_t>> entries;
  for (const Image& image : sizes) {
    std::vector<std::uint8_t> dib;
    const int maskStride = ((image.width + 31) / 32) * 4;
    const auto colourBytes = static_cast<std::uint32_t>(image.width * image.height * 4);
    const auto maskBytes = static_cast<std::uint32_t>(maskStride * image.height);
    // An icon's DIB is twice as high: the colour rows, then the AND mask.
    PutInfoHeader(dib, image.width, image.height * 2, 32, colourBytes + maskBytes);
    for (int y = image.height - 1; y >= 0; --y) {
      for (int x = 0; x < image.width; ++x) {
        const Rgba& p = image.at(x, y);
        dib.push_back(p.b);
        dib.push_back(p.g);
        dib.push_back(p.r);
        dib.push_back(p.a);
      }
    }
    for (int y = image.height - 1; y >= 0; --y) {
      std::vector<std::uint8_t> row(static_cast<std::size_t>(maskStride), 0);
      for (int x = 0; x < image.width; ++x) {
        if (image.at(x, y).a < 128) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
      dib.insert(dib.end(), row.begin(), row.end());
    }
    entries.push_back(std::move(dib));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // icon
  Put16(out, static_cast<unsigned>(entries.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i].width >= 256 ? 0 : sizes[i].width));
    out.push_back(static_cast<std::uint8_t>(sizes[i].height >= 256 ? 0 : sizes[i].height));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits
    Put32(out, static_cast<std::uint32_t>(entries[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(entries[i].size());
  }
  for (const auto& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
  return out;
}

std::vector<std::uint8_t> EncodeBitmap(const Image& image) {
  const int stride = (image.width * 3 + 3) / 4 * 4;
  const auto imageBytes = static_cast<std::uint32_t>(stride * image.height);
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 14 + 40 + imageBytes);
  Put32(out, 0);
  Put32(out, 14 + 40);
  PutInfoHeader(out, image.width, image.height, 24, imageBytes);
  for (int y = image.height - 1; y >= 0; --y) {
    int written = 0;
    for (int x = 0; x < image.width; ++x) {
      // Bitmaps have no transparency: what is see-through shows white.
      const Rgba p = Mix(kWhite, Rgba{image.at(x, y).r, image.at(x, y).g, image.at(x, y).b, 255},
                         image.at(x, y).a / 255.0);
      out.push_back(p.b);
      out.push_back(p.g);
      out.push_back(p.r);
      written += 3;
    }
    for (; written < stride; ++written) out.push_back(0);
  }
  return out;
}

std::vector<std::uint8_t> DrawIcon(int id) {
  switch (id) {
    case IDI_APP: return EncodeIcon({AppIcon(32), AppIcon(16)});
    case IDI_BUTTON_NORMAL: return EncodeIcon({ButtonIcon(false)});
    case IDI_BUTTON_HOT: return EncodeIcon({ButtonIcon(true)});
    default: return {};
  }
}

std::vector<std::uint8_t> DrawBitmap(int id) {
  switch (id) {
    case IDB_LOGO: return EncodeBitmap(Logo());
    case IDB_BANNER: return EncodeBitmap(Banner());
    default: return {};
  }
}

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return false;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace qx::rcgen
