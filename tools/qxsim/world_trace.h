// The trace that programs observed on Win32 write (platform/observed), read
// back as the simulated device's effects: each record worded as the device
// words the same effect (platform/sim/effect_text.h), so that a step's
// effects on either world compare line by line. Also the one place where
// the names of Wine's world are mapped to the handheld's.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/observed/observed.h"
#include "platform/sim/sim.h"

namespace qx::qxsim {

struct TraceRecord {
  std::string image;  // the program's file as Wine names it (UTF-8)
  observed::Record kind = observed::Record::Ended;
  std::vector<std::string> fields;
};

// The complete lines of `text` from *offset on, as records; *offset moves
// past the last complete line. A line that is no record is skipped.
std::vector<TraceRecord> ReadTrace(const std::string& text, std::size_t* offset);

// Wine's names for the handheld's things, and back: a program's file on
// drive C: is the handheld's path without the drive ("C:\Program
// Files\Quorvix\Quorvix.exe" is "\Program Files\Quorvix\Quorvix.exe"), the
// installer driver stands for the device's installer, and a process is
// named by its file, whatever its id on either world.
struct WorldNames {
  std::map<DWORD, std::u16string> images;  // Wine's process ids -> device files
  [[nodiscard]] std::u16string DevicePath(std::u16string_view windowsPath) const;
};

// The record as the simulated device's effect (program: its base name, as
// the device's effects name it).
sim::Effect EffectOf(const TraceRecord& record, const WorldNames& names);

// Whether an effect of the simulated device is one a program's own call
// caused, of a kind the observed platform traces: the effects the two
// worlds compare. (What the world does in answer, a browser ending when its
// window is closed, is the world's and is not compared.)
bool ComparedEffect(const sim::Effect& effect);

// An effect as the comparison reads it: process ids left out.
std::string ComparedText(const sim::Effect& effect);

}  // namespace qx::qxsim
