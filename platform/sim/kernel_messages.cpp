// Messages, timers and message boxes of the simulated device.
#include <algorithm>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"

namespace qx::sim {

namespace {

int DefaultButton(UINT type) { return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }

}  // namespace

bool BoxHasButton(UINT type, int button) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return button == IDOK || button == IDCANCEL;
    case MB_YESNO: return button == IDYES || button == IDNO;
    default: return button == IDOK;
  }
}

const char* BoxButtonNames(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return "OK, Cancel";
    case MB_YESNO: return "Yes, No";
    default: return "OK";
  }
}

// ---- Messages ------------------------------------------------------------------------

// The world's windows have no program to show what they received, so a
// program's message to one is an effect of its own.
void Kernel::NoteWorldMessage(HWND hwnd, const char* how, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Current() == nullptr) return;
  Log(Effect::Kind::Message, std::string("message ") + std::to_string(message) + " (" + std::to_string(wParam) +
                                 ", " + std::to_string(lParam) + ") " + how + " to " + Label(hwnd));
}

LRESULT Kernel::SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(SendMessageW, 0)
  const Window* window = Find(hwnd);
  if (window == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return 0;
  }
  Program* target = ProgramOf(window->processId);
  Program* self = Current();
  if (target == nullptr) NoteWorldMessage(hwnd, "sent", message, wParam, lParam);
  if (target == nullptr || target == self) return CallWindow(hwnd, message, wParam, lParam);
  if (self == nullptr) return SendFromWorld(*target, hwnd, message, wParam, lParam);
  SentMessage sent{hwnd, message, wParam, lParam, self->pid};
  target->sent.push_back(&sent);
  self->waiting = &sent;
  struct ClearWaiting {
    Program* self;
    ~ClearWaiting() { self->waiting = nullptr; }
  } clear{self};
  WaitFor([&] { return sent.done; });
  if (!sent.done) {
    // Nobody could answer: take the message back so nothing points at it.
    if (Program* receiver = ProgramOf(window->processId)) std::erase(receiver->sent, &sent);
  }
  return sent.result;
}

LRESULT Kernel::SendFromWorld(Program& target, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The world runs the programs only until all of them wait. A handler that
  // waits for the user (in a message box, say) returns during a later step,
  // so the record it answers into is the kernel's, not this frame's.
  auto owned = std::make_unique<SentMessage>(SentMessage{hwnd, message, wParam, lParam, 0});
  SentMessage& sent = *owned;
  sent.receiver = target.pid;
  worldSends_.push_back(std::move(owned));
  target.sent.push_back(&sent);
  WaitFor([&] { return sent.done; });
  const LRESULT result = sent.result;
  if (sent.done) std::erase_if(worldSends_, [&](const auto& record) { return record.get() == &sent; });
  return result;
}

void Kernel::SettleWorldSends() {
  std::erase_if(worldSends_, [&](const std::unique_ptr<SentMessage>& sent) {
    if (!sent->done && ProgramOf(sent->receiver) != nullptr) return false;
    if (sent->announce) {
      Log(Effect::Kind::Note, "message " + std::to_string(sent->message) +
                                  (sent->done ? " answered " + std::to_string(sent->result) : " got no answer"));
    }
    return true;
  });
}

BOOL Kernel::PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(PostMessageW, FALSE)
  if (hwnd == nullptr) {
    Program* self = Current();
    if (self == nullptr) return FALSE;
    self->posted.push_back({nullptr, message, wParam, lParam});
    return TRUE;
  }
  const Window* window = Find(hwnd);
  if (window == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return FALSE;
  }
  if (Program* target = ProgramOf(window->processId)) {
    target->posted.push_back({hwnd, message, wParam, lParam});
  } else {
    NoteWorldMessage(hwnd, "posted", message, wParam, lParam);
    CallWindow(hwnd, message, wParam, lParam);  // the stand-ins act at once
  }
  return TRUE;
}

void Kernel::PostToProgram(DWORD processId, MSG msg) {
  if (Program* target = ProgramOf(processId)) target->posted.push_back(msg);
}

BOOL Kernel::IsDialogMessageW(HWND dialog, MSG* msg) {
  QX_ENTER(IsDialogMessageW, FALSE)
  // The simulated device has no keyboard: there is no dialog navigation to do.
  (void)dialog;
  (void)msg;
  return FALSE;
}

LRESULT Kernel::DispatchMessageW(const MSG* msg) {
  QX_ENTER(DispatchMessageW, 0)
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    if (Find(msg->hwnd) == nullptr) return 0;
    const ProgramCodeScope program;
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, now_);
    return 0;
  }
  return CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void Kernel::PostQuitMessage(int exitCode) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::PostQuitMessage)) return;
  if (Program* self = Current()) self->posted.push_back({nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

UINT_PTR Kernel::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  QX_ENTER(SetTimer, 0)
  const Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  const UINT period = std::max<UINT>(elapseMs, 1);
  for (auto& timer : timers_) {
    if (timer->hwnd == hwnd && timer->id == id) {
      timer->period = period;
      timer->due = now_ + period;
      timer->proc = proc;
      return id;
    }
  }
  timers_.push_back(std::make_unique<Timer>(Timer{hwnd, id, period, now_ + period, proc, window->processId}));
  ledger_.handles().Opened(HandleKind::Timer, TimerKey(hwnd, id), std::to_string(id) + " of " + Label(hwnd),
                           HandleValue(hwnd));
  return id == 0 ? 1 : id;
}

BOOL Kernel::KillTimer(HWND hwnd, UINT_PTR id) {
  QX_ENTER_CLOSE(KillTimer, Timer, TimerKey(hwnd, id), FALSE)
  return DropTimers([&](const Timer& timer) { return timer.hwnd == hwnd && timer.id == id; }) != 0;
}

std::size_t Kernel::DropTimers(const std::function<bool(const Timer&)>& which) {
  return std::erase_if(timers_, [&](const std::unique_ptr<Timer>& timer) {
    if (!which(*timer)) return false;
    ledger_.handles().Closed(HandleKind::Timer, TimerKey(timer->hwnd, timer->id));
    return true;
  });
}

// ---- Message boxes -----------------------------------------------------------------

int Kernel::MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) {
  QX_ENTER(MessageBoxW, 0)
  Log(Effect::Kind::MessageBox, BoxText(caption, text, type, owner != nullptr));
  const auto answered = [&](int answer, const char* how) {
    Log(Effect::Kind::BoxAnswered, std::string("answered ") + AnswerName(answer) + how);
    return answer;
  };
  if (!queuedAnswers_.empty()) {
    const int answer = queuedAnswers_.front();
    queuedAnswers_.pop_front();
    if (BoxHasButton(type, answer)) return answered(answer, "");
    return answered(DefaultButton(type), " (the queued answer is not one of its buttons)");
  }
  Program* self = Current();
  if (self == nullptr) return answered(DefaultButton(type), " (no one to ask: its first button)");
  const auto previous = boxOpen_;
  const HWND previousForeground = foreground_;
  Window& box = CreateWindowObject(self->pid, kDialogClass, caption, {10, 100, 230, 220}, owner);
  box.messageBox = true;
  box.boxText = text;
  box.boxType = type;
  box.visible = true;
  const HWND hwnd = box.hwnd;
  zOrder_.insert(zOrder_.begin(), hwnd);
  Raise(hwnd, false);
  foreground_ = hwnd;
  boxOpen_ = OpenBox{hwnd, type};
  // As on Win32, the owner takes no input while its box is open.
  Window* ownerWindow = Find(owner);
  const bool disabledOwner = ownerWindow != nullptr && ownerWindow->enabled && !ownerWindow->child;
  if (disabledOwner) ownerWindow->enabled = false;
  const auto pending = [&] {
    const Window* open = Find(hwnd);
    return open != nullptr && !open->boxAnswer;
  };
  while (pending()) {
    MSG msg;
    if (!GetMessageW(&msg)) {
      PostQuitMessage(0);
      break;
    }
    DispatchMessageW(&msg);
  }
  // A box destroyed before anyone answered it fails, as Win32's does.
  const Window* ended = Find(hwnd);
  const int answer = ended != nullptr ? ended->boxAnswer.value_or(0) : 0;
  const bool byProgram = ended != nullptr && ended->boxEndedByProgram;
  if (Window* back = Find(owner); disabledOwner && back != nullptr) back->enabled = true;
  boxOpen_ = previous;
  DestroyTree(hwnd, false);
  // A window hidden while the box was up does not get the foreground back:
  // the box's closing has already passed it to the next window shown.
  if (const Window* back = Find(previousForeground); back != nullptr && back->visible) {
    foreground_ = previousForeground;
  }
  return answered(answer, byProgram ? " (ended by its program)" : "");
}

void Kernel::EndBox(Window& box, int answer) {
  box.boxAnswer = answer;
  PostToProgram(box.processId, {nullptr, WM_NULL, 0, 0});
}

BOOL Kernel::EndDialog(HWND hwnd, INT_PTR result) {
  QX_ENTER(EndDialog, FALSE)
  Window* box = Find(hwnd);
  const Program* self = Current();
  // The framework runs its own dialogs' loops; the device's are the boxes.
  if (box == nullptr || !box->messageBox || self == nullptr || box->processId != self->pid) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return FALSE;
  }
  if (!box->boxAnswer) {
    box->boxEndedByProgram = true;
    EndBox(*box, plantedBoxEnd_.value_or(static_cast<int>(result)));
  }
  return TRUE;
}

bool Kernel::Answer(int button, std::string* why) {
  if (boxOpen_) {
    if (!BoxHasButton(boxOpen_->type, button)) {
      if (why != nullptr) *why = std::string("the open box has no such button; its buttons are ") + BoxButtonNames(boxOpen_->type);
      return false;
    }
    if (Window* box = Find(boxOpen_->window)) EndBox(*box, button);
    RunUntilQuiet();
    return true;
  }
  queuedAnswers_.push_back(button);
  return true;
}

}  // namespace qx::sim
