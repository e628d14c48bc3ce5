// A scenario written as it runs, one line at a time (qxsim serve), and the
// folder its host files are confined to.
#include <algorithm>

#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

bool Runner::RunLiveLine(std::string_view text, const std::filesystem::path& name, std::size_t number,
                         std::string* error) {
  if (!liveBegun_) {
    Emit([&](Writer& w) { w.BeginScenario(name.string()); });
    liveBegun_ = true;
  }
  Line line;
  line.file = name;
  line.number = number;
  line.text = std::string(text);
  if (liveStopped_) {
    *error = name.string() + ":" + std::to_string(number) +
             ": the story ended when a program was ended abruptly; go back to a step before it to go on";
    return false;
  }
  // RunText decides this from the whole file; a file written line by line
  // decides it as the line comes, which gives the same answer for every
  // line that can run before the story ends.
  if (NamesClient2003(line.text)) client2003_ = true;
  try {
    RunStoryLine(line);
    if (killed_) liveStopped_ = true;
  } catch (const ScenarioError& failure) {
    *error = failure.what();
    return false;
  }
  return true;
}

void Runner::ConfineHostFiles(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::path real = std::filesystem::canonical(folder, error);
  hostFolder_ = error ? std::filesystem::absolute(folder).lexically_normal() : real;
}

std::filesystem::path Runner::Confined(const Line& line, const std::filesystem::path& path) const {
  namespace fs = std::filesystem;
  const auto refuse = [&] {
    Fail(line, "\"" + path.lexically_normal().string() + "\" is outside " + hostFolder_->string() +
                   ", the only folder whose files this device may read or write");
  };
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) refuse();
  // Links and ".." are resolved as far as the path exists.
  const fs::path real = fs::weakly_canonical(absolute, error);
  if (error) refuse();
  if (std::mismatch(hostFolder_->begin(), hostFolder_->end(), real.begin(), real.end()).first != hostFolder_->end()) {
    refuse();
  }
  // What is left unresolved does not exist; a link among it points nowhere,
  // and writing through it would create the file wherever it points.
  for (fs::path part = real; part != *hostFolder_ && part.has_relative_path(); part = part.parent_path()) {
    if (fs::is_symlink(fs::symlink_status(part, error))) refuse();
  }
  // As written, so that a step prints it as qxsim running the file would.
  return path;
}

}  // namespace qx::qxsim
