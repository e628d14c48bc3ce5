// The scheduler: every program of the simulated device runs on a thread of
// its own, but only the holder of the baton runs. A program gives the baton
// up only where a real one would wait (for its next message, or for the
// answer to a message it sent to another program), so the order of events is
// fixed by the inputs alone.
#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

namespace {
// The program whose thread this is; null on the world's thread.
thread_local void* t_program = nullptr;
}  // namespace

Kernel::Program* Kernel::Current() const { return static_cast<Program*>(t_program); }

void Kernel::SwitchTo(DWORD next) {
  const Program* self = Current();
  const DWORD me = self != nullptr ? self->pid : 0;
  std::unique_lock lock(mutex_);
  running_ = next;
  changed_.notify_all();
  changed_.wait(lock, [&] { return running_ == me; });
}

bool Kernel::HasWork(const Program& program) const {
  if (program.exited) return false;
  if (!program.started || program.killed || !program.sent.empty()) return true;
  if (program.sleeping) return false;
  if (program.waiting != nullptr) return program.waiting->done;
  if (!program.posted.empty()) return true;
  for (const auto& [handle, window] : windows_) {
    if (window->processId == program.pid && window->needsPaint && ShownOnScreen(*window)) return true;
  }
  for (const auto& timer : timers_) {
    if (timer->processId == program.pid && timer->due <= now_) return true;
  }
  return false;
}

DWORD Kernel::PickNext(DWORD prefer) {
  if (prefer != 0) {
    const auto it = programs_.find(prefer);
    if (it != programs_.end() && HasWork(*it->second)) return prefer;
  }
  for (const auto& [pid, program] : programs_) {
    if (HasWork(*program)) return pid;
  }
  // Everyone else waits: a sleeping program wakes.
  for (const auto& [pid, program] : programs_) {
    if (program->sleeping && !program->exited) {
      program->sleeping = false;
      return pid;
    }
  }
  return 0;
}

void Kernel::Sleep(DWORD milliseconds) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::Sleep)) return;
  Program* self = Current();
  // A zero sleep only offers the processor, which on this device nobody
  // takes while the program runs. A longer one lets every other program run
  // until it waits; virtual time passes only when the world advances it.
  if (self == nullptr || milliseconds == 0) return;
  self->sleeping = true;
  while (self->sleeping) {
    if (self->killed) {
      self->sleeping = false;
      throw ProgramKilled{};
    }
    SwitchTo(PickNext());
  }
  if (self->killed) throw ProgramKilled{};
}

void Kernel::RunUntilQuiet() {
  if (Current() != nullptr) return;  // only the world waits for quiet
  for (DWORD next = PickNext(); next != 0; next = PickNext()) SwitchTo(next);
  Reap();
}

void Kernel::Reap() {
  for (auto it = programs_.begin(); it != programs_.end();) {
    if (it->second->exited) {
      if (it->second->thread.joinable()) it->second->thread.join();
      it = programs_.erase(it);
    } else {
      ++it;
    }
  }
  SettleWorldSends();
}

void Kernel::ProgramThread(Program* program, std::u16string commandLine) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ == program->pid; });
  }
  t_program = program;
  program->started = true;
  const ProgramMain main = program->main;
  bool ended = false;
  try {
    if (!program->killed) {
      main(*platform_, commandLine);
      ended = !program->killed;
    }
  } catch (const ProgramKilled&) {
    // Terminated or reset: the program's own clean-up never ran.
  } catch (const std::exception& error) {
    Log(Effect::Kind::Note, Utf8(program->image) + " crashed: " + error.what());
  }
  if (ended) AuditEnd(*program);
  if (processes_.count(program->pid) != 0) EndProcess(program->pid, false);
  program->exited = true;
  // Whoever waits for an answer from us gets none.
  for (SentMessage* message : program->sent) message->done = true;
  program->sent.clear();
  std::unique_lock lock(mutex_);
  running_ = PickNext();
  changed_.notify_all();
}

void Kernel::AuditEnd(const Program& program) {
  std::vector<OpenHandle> held = ledger_.handles().HeldBy(program.pid);
  if (held.empty()) return;
  for (const OpenHandle& handle : held) {
    Log(Effect::Kind::HandleLeft, LeftOpenText(program.image, HandleKindName(handle.kind), handle.what, handle.closeRefused));
  }
  leftOpen_.push_back({program.image, program.pid, std::move(held)});
}

void Kernel::ServeSentMessage(Program& self) {
  SentMessage* message = self.sent.front();
  self.sent.pop_front();
  ++self.servingSent;
  message->result = CallWindow(message->hwnd, message->message, message->wParam, message->lParam);
  --self.servingSent;
  message->done = true;
  // A sent message returns to its sender before the receiver goes on.
  const auto sender = programs_.find(message->sender);
  if (message->sender == 0 || (sender != programs_.end() && !sender->second->exited)) SwitchTo(message->sender);
}

void Kernel::WaitFor(const std::function<bool()>& done) {
  Program* self = Current();
  while (!done()) {
    if (self == nullptr) {
      const DWORD next = PickNext();
      if (next == 0) return;  // nobody left who could answer
      SwitchTo(next);
      continue;
    }
    if (self->killed) throw ProgramKilled{};
    if (!self->sent.empty()) {
      ServeSentMessage(*self);
      continue;
    }
    SwitchTo(PickNext());
  }
}

BOOL Kernel::GetMessageW(MSG* msg) {
  const CallScope qx_scope;
  if (auto error = ledger_.Enter(Call::GetMessageW)) {
    SetLastError(static_cast<DWORD>(*error));
    return FALSE;
  }
  Program* self = Current();
  if (self == nullptr || msg == nullptr) return FALSE;  // the world has no message queue
  for (;;) {
    if (self->killed) throw ProgramKilled{};
    if (!self->sent.empty()) {
      ServeSentMessage(*self);
      continue;
    }
    if (!self->posted.empty()) {
      *msg = self->posted.front();
      self->posted.pop_front();
      return msg->message != WM_QUIT;
    }
    // Painting and timers come when nothing else is queued, as on the device.
    for (const auto& [handle, window] : windows_) {
      if (window->processId == self->pid && window->needsPaint && ShownOnScreen(*window)) {
        // Taking the paint request validates the window, so a program that
        // paints by itself is not asked again and again.
        window->needsPaint = false;
        *msg = {window->hwnd, WM_PAINT, 0, 0};
        return TRUE;
      }
    }
    Timer* due = nullptr;
    for (const auto& timer : timers_) {
      if (timer->processId == self->pid && timer->due <= now_ && (due == nullptr || timer->due < due->due)) {
        due = timer.get();
      }
    }
    if (due != nullptr) {
      due->due = now_ + due->period;
      *msg = {due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc)};
      return TRUE;
    }
    SwitchTo(PickNext());
  }
}

void Kernel::AdvanceTime(DWORD milliseconds) {
  const DWORD target = now_ + milliseconds;
  RunUntilQuiet();
  for (;;) {
    // The next moment a timer falls due; timers already due but not yet
    // taken (their program is busy) do not hold time back.
    std::optional<DWORD> next;
    for (const auto& timer : timers_) {
      if (timer->due > now_ && timer->due <= target && (!next || timer->due < *next)) next = timer->due;
    }
    if (!next) break;
    now_ = *next;
    RunUntilQuiet();
  }
  now_ = target;
  RunUntilQuiet();
}

DWORD Kernel::Spawn(std::u16string_view image, std::u16string_view commandLine, const ProgramImage* program) {
  const DWORD pid = NewProcessId();
  processes_[pid] = std::make_unique<Process>(Process{pid, std::u16string(image), program != nullptr});
  if (program == nullptr) return pid;
  auto state = std::make_unique<Program>();
  state->pid = pid;
  state->image = std::u16string(image);
  state->main = program->main;
  state->iconIds = program->iconIds;
  Program* raw = state.get();
  programs_[pid] = std::move(state);
  raw->thread = std::thread(&Kernel::ProgramThread, this, raw, std::u16string(commandLine));
  return pid;
}

DWORD Kernel::CallingProcess() const {
  const Program* self = Current();
  return self != nullptr ? self->pid : 0;
}

bool Kernel::CallerEnded() const {
  const Program* self = Current();
  return self != nullptr && self->killed;
}

void Kernel::EndCaller() {
  // No unwinding here: the call may come from a destructor. The program
  // runs on to its end with every call refused, so the device stays as it
  // was right after the call that ended it.
  if (const Program* self = Current()) Kill(self->pid);
}

void Kernel::KillAll() {
  for (auto& [pid, program] : programs_) {
    if (!program->exited) {
      program->killed = true;
      if (processes_.count(pid) != 0) EndProcess(pid, true);
    }
  }
  if (Current() == nullptr) RunUntilQuiet();
}

}  // namespace qx::sim
