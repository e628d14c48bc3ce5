// Files that hand out at most a few bytes per read and take at most a few
// per write, as a device may: code that reads or writes a file must carry
// on until it has all of it.
#pragma once

#include <algorithm>
#include <cstddef>

#include "platform/platform.h"

namespace qx {

// Passes every call to the device, but hands out at most maxRead bytes per
// read and takes at most maxWrite bytes per write.
class ChoppyFiles : public IFiles {
 public:
  ChoppyFiles(IFiles& inner, std::size_t maxRead, std::size_t maxWrite)
      : inner_(inner), maxRead_(maxRead), maxWrite_(maxWrite) {}
  HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) override {
    return inner_.CreateFileW(path, access, share, disposition);
  }
  BOOL ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) override {
    return inner_.ReadFile(file, buffer.first(std::min(buffer.size(), maxRead_)), read);
  }
  BOOL WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) override {
    return inner_.WriteFile(file, data.first(std::min(data.size(), maxWrite_)), written);
  }
  DWORD SetFilePointer(HANDLE file, LONG distance, DWORD method) override {
    return inner_.SetFilePointer(file, distance, method);
  }
  BOOL SetEndOfFile(HANDLE file) override { return inner_.SetEndOfFile(file); }
  BOOL CloseHandle(HANDLE file) override { return inner_.CloseHandle(file); }

 private:
  IFiles& inner_;
  std::size_t maxRead_;
  std::size_t maxWrite_;
};

}  // namespace qx
