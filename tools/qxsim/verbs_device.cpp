// Verbs that act on the device around the programs: notes, time, dial-up
// connections, files, and the platform calls (faults and counts).
#include "tools/qxsim/verbs.h"

#include <cstdio>
#include <fstream>
#include <limits>

namespace qx::qxsim {

namespace {
// One step lets at most a day of virtual time pass.
constexpr long long kMaxAdvanceMs = 86'400'000;
}  // namespace

std::string VerbTable::ShowFile(const std::string& path, const std::vector<BYTE>& bytes) {
  std::string shown = "    \"" + path + "\", " + std::to_string(bytes.size()) + " bytes:\n";
  std::string row;
  // Backslash escapes, the backslash itself included, so that what is
  // shown reads back to the same bytes.
  for (BYTE b : bytes) {
    if (b == '\n') {
      shown += "    | " + row + "\\n\n";
      row.clear();
    } else if (b == '\r') {
      row += "\\r";
    } else if (b == '\\') {
      row += "\\\\";
    } else if (b < 0x20 || b >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      row += hex;
    } else {
      row += static_cast<char>(b);
    }
  }
  if (!row.empty()) shown += "    | " + row + "\n";
  return shown;
}

DWORD VerbTable::DurationOf(const Line& line) {
  const auto& words = line.words;
  if (words.size() == 3) return static_cast<DWORD>(Number(words[1]).value_or(0) * kTickMs);
  std::string text = Lower(words[1]);
  if (text.ends_with("ms")) return static_cast<DWORD>(Number(text.substr(0, text.size() - 2)).value_or(0));
  return static_cast<DWORD>(Number(text.substr(0, text.size() - 1)).value_or(0) * 1000);
}

DWORD VerbTable::Duration(Runner& r, const Line& line, const std::vector<std::string>& words) {
  // "advance 3 ticks", "advance 600ms", "advance 2s", "advance 1 tick"
  const std::string usage = "advance N ticks | Nms | Ns";
  std::optional<long long> n;
  long long scale = 1;
  if (words.size() == 3) {
    const std::string unit = Lower(words[2]);
    if (unit != "tick" && unit != "ticks") r.Fail(line, "usage: " + usage);
    n = Number(words[1]);
    scale = kTickMs;
  } else if (words.size() == 2) {
    std::string text = Lower(words[1]);
    if (text.size() > 2 && text.ends_with("ms")) {
      text.resize(text.size() - 2);
    } else if (text.size() > 1 && text.ends_with("s")) {
      text.resize(text.size() - 1);
      scale = 1000;
    } else {
      r.Fail(line, "usage: " + usage);
    }
    n = Number(text);
  } else {
    r.Fail(line, "usage: " + usage);
  }
  if (!n || *n < 0) r.Fail(line, "usage: " + usage);
  // Checked before multiplying, so no count can wrap around.
  if (*n > kMaxAdvanceMs / scale) {
    r.Fail(line, "one step advances virtual time by at most 24 hours (86400000 ms)");
  }
  const auto ms = static_cast<DWORD>(*n * scale);
  // The device's clock counts milliseconds in 32 bits: it must not turn over.
  if (ms > std::numeric_limits<DWORD>::max() - r.device_.kernel().Now()) {
    r.Fail(line, "virtual time cannot pass " + Seconds(std::numeric_limits<DWORD>::max()) + " (49.7 days)");
  }
  return ms;
}

void VerbTable::AddDeviceVerbs(std::vector<Runner::Verb>& verbs) {
  verbs.push_back({"note", "note TEXT...", [](Runner&, const Line&) {}});

  verbs.push_back({"trace", "trace on|off", [](Runner& r, const Line& line) {
                     const std::string how = line.words.size() == 2 ? Lower(line.words[1]) : std::string();
                     if (how != "on" && how != "off") r.Fail(line, "usage: trace on|off");
                     r.device_.kernel().SetTracing(how == "on");
                   }});

  verbs.push_back({"advance", "advance N ticks | Nms | Ns", [](Runner& r, const Line& line) {
                     r.device_.kernel().AdvanceTime(Duration(r, line, line.words));
                   }});

  verbs.push_back({"reset", "reset", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "reset");
                     r.device_.kernel().Reset();
                   }});

  verbs.push_back({"kill after", "kill after N", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "kill after N");
                     const auto n = Number(line.words[2]);
                     if (!n || *n < 1 || *n > 0x7FFFFFFF) r.Fail(line, "usage: kill after N (N from 1)");
                     r.killAfter_ = r.programCalls_ + static_cast<std::size_t>(*n);
                     r.device_.kernel().Note("the program making platform call " + line.words[2] +
                                             " from now on ends right after it");
                   }});

  verbs.push_back({"dial", "dial ENTRY-NAME", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "dial ENTRY-NAME");
                     r.device_.kernel().Dial(sim::Utf16(line.words[1]));
                     r.device_.kernel().Note("dial-up connection open: \"" + sim::Utf8(sim::Utf16(line.words[1]).substr(0, RAS_MaxEntryName)) + "\"");
                   }});

  verbs.push_back({"connections", "connections", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "connections");
                     for (const auto& name : r.device_.kernel().Connections()) {
                       r.out_ << "    \"" << sim::Utf8(name) << "\"\n";
                     }
                   }});

  verbs.push_back({"file put", "file put DEVICE-PATH TEXT... | file put DEVICE-PATH from HOST-FILE",
                   [](Runner& r, const Line& line) {
                     std::string bytes;
                     if (line.words.size() == 5 && !line.quoted[3] && Lower(line.words[3]) == "from") {
                       bool ok = false;
                       const auto path = r.Resolve(line, line.words[4]);
                       bytes = ReadFile(path, &ok);
                       if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                     } else if (line.words.size() >= 4) {
                       bytes = DeviceBytes(line, 3);
                     } else {
                       r.Fail(line, "usage: file put DEVICE-PATH TEXT... | file put DEVICE-PATH from HOST-FILE");
                     }
                     r.device_.kernel().PutFile(sim::Utf16(line.words[2]),
                                                std::vector<BYTE>(bytes.begin(), bytes.end()));
                     r.device_.kernel().Note("file \"" + line.words[2] + "\" holds " + std::to_string(bytes.size()) + " bytes");
                   }});

  verbs.push_back({"file show", "file show DEVICE-PATH", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "file show DEVICE-PATH");
                     const auto bytes = r.device_.kernel().GetFile(sim::Utf16(line.words[2]));
                     if (!bytes) r.Fail(line, "there is no file \"" + line.words[2] + "\"");
                     r.out_ << ShowFile(line.words[2], *bytes);
                   }});

  verbs.push_back({"file get", "file get DEVICE-PATH to HOST-FILE", [](Runner& r, const Line& line) {
                     if (line.words.size() != 5 || Lower(line.words[3]) != "to") {
                       r.Fail(line, "usage: file get DEVICE-PATH to HOST-FILE");
                     }
                     const auto bytes = r.device_.kernel().GetFile(sim::Utf16(line.words[2]));
                     if (!bytes) r.Fail(line, "there is no file \"" + line.words[2] + "\"");
                     const auto path = r.Resolve(line, line.words[4]);
                     std::ofstream output(path, std::ios::binary);
                     output.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
                     if (!output) r.Fail(line, "cannot write \"" + path.string() + "\"");
                     r.out_ << "    " << bytes->size() << " bytes written to " << path.string() << "\n";
                   }});

  verbs.push_back({"fail", "fail CALL [NTH [TIMES [ERROR]]]", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 5, "fail CALL [NTH [TIMES [ERROR]]]");
                     const auto call = sim::CallFromName(line.words[1]);
                     if (!call) r.Fail(line, "there is no service call \"" + line.words[1] + "\"");
                     sim::Fault fault{*call};
                     long long values[3] = {1, 1, ERROR_ACCESS_DENIED};
                     for (std::size_t i = 2; i < line.words.size(); ++i) {
                       const auto n = Number(line.words[i]);
                       if (!n || *n < 0 || *n > 0x7FFFFFFF) r.Fail(line, "usage: fail CALL [NTH [TIMES [ERROR]]]");
                       values[i - 2] = *n;
                     }
                     // Calls are counted from 1: "call 0" would silently mean call 1.
                     if (values[0] < 1) r.Fail(line, "the call to fail is counted from 1 (the next call)");
                     fault.nth = static_cast<std::size_t>(values[0]);
                     fault.times = static_cast<std::size_t>(values[1]);
                     fault.error = static_cast<LONG>(values[2]);
                     r.device_.ledger().Plan(fault);
                     r.device_.kernel().Note(line.words[1] + " call " + std::to_string(values[0]) + " from now on fails" +
                                             (values[1] == 0 ? " every time after" : values[1] == 1 ? "" : " " + std::to_string(values[1]) + " times") +
                                             " with error " + std::to_string(values[2]));
                   }});

  verbs.push_back({"calls", "calls", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "calls");
                     for (std::size_t i = 0; i < sim::kCallCount; ++i) {
                       const auto call = static_cast<sim::Call>(i);
                       if (const std::size_t n = r.device_.ledger().Count(call)) {
                         r.out_ << "    " << sim::CallName(call) << " " << n << "\n";
                       }
                     }
                   }});
}

}  // namespace qx::qxsim
