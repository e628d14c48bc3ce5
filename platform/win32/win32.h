// The platform services over the real Win32 API, for the Windows builds of
// the programs (mingw-w64, run under Wine by the end-to-end tests).
//
// Only entry points include this header; it pulls in no Windows header, so
// the programs' own code never sees one.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace qx {

class Win32Platform {
 public:
  Win32Platform();
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // The services of the calling process; valid for the object's life.
  [[nodiscard]] Platform& platform();

 private:
  struct Services;
  std::unique_ptr<Services> services_;
};

}  // namespace qx
