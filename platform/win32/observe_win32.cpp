// The Win32 side of the observed platform: a program that the scenario
// runner started (QX_WORLD_LINK and QX_WORLD_TRACE in its environment)
// counts, fails and ends its calls through the file it shares with the
// runner, keeps its timers there for the runner's clock to fire, and
// appends its trace records to the runner's trace file.
#include "platform/win32/win32_internal.h"

#include <string>

#include "platform/observed/observed.h"
#include "platform/observed/text.h"
#include "platform/observed/world_link.h"

namespace qx::win32 {

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024] = {};
  const ::DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  return length == 0 || length >= 1024 ? std::wstring() : std::wstring(value, length);
}

// A record field with its tabs, line ends and backslashes escaped, so that
// every record is one line of the trace.
void AppendField(std::string& line, const std::string& field) {
  line.push_back('\t');
  for (char c : field) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\t': line += "\\t"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      default: line.push_back(c);
    }
  }
}

}  // namespace

class LinkObserver final : public observed::Observer {
 public:
  static std::unique_ptr<LinkObserver> FromEnvironment() {
    const std::wstring linkPath = Environment(L"QX_WORLD_LINK");
    const std::wstring tracePath = Environment(L"QX_WORLD_TRACE");
    if (linkPath.empty() || tracePath.empty()) return nullptr;
    auto observer = std::unique_ptr<LinkObserver>(new LinkObserver);
    if (!observer->Open(linkPath, tracePath)) return nullptr;
    return observer;
  }

  ~LinkObserver() override {
    if (link_ != nullptr) ::UnmapViewOfFile(link_);
    if (mapping_ != nullptr) ::CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    if (trace_ != INVALID_HANDLE_VALUE) ::CloseHandle(trace_);
  }

  void SetImage(std::u16string_view image) { image_ = observed::Utf8(image); }

  std::optional<LONG> Enter(observed::Call call) override {
    const observed::LinkVerdict verdict = observed::EnterCall(*link_, call, ::GetCurrentProcessId());
    // Ended as a battery pull would end it: at once, before the call, with
    // nothing of its own clean-up.
    if (verdict.end) ::TerminateProcess(::GetCurrentProcess(), 0xDEAD);
    if (verdict.error) return static_cast<LONG>(*verdict.error);
    return std::nullopt;
  }

  void SetLastError(qx::DWORD error) override { ::SetLastError(error); }
  std::optional<std::uint64_t> FileSize(qx::HANDLE file) override {
    ::LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }
  std::uint32_t Plants() override { return observed::Atomic(link_->plants).load(); }

  void Write(observed::Record record, const std::vector<std::string>& fields) override {
    std::string line;
    AppendField(line, image_);
    line.erase(0, 1);  // the image is the first field: no tab before it
    AppendField(line, std::string(observed::RecordName(record)));
    for (const std::string& field : fields) AppendField(line, field);
    line += "\n";
    // One write per record on a file opened for appending: records of
    // several programs never interleave.
    ::DWORD written = 0;
    ::WriteFile(trace_, line.data(), static_cast<::DWORD>(line.size()), &written, nullptr);
  }

  qx::UINT_PTR SetTimer(qx::HWND hwnd, qx::UINT_PTR id, qx::UINT elapseMs) override {
    const observed::LinkLock lock(*link_);
    const std::uint32_t pid = ::GetCurrentProcessId();
    const std::uint64_t window = reinterpret_cast<std::uintptr_t>(hwnd);
    const std::uint32_t period = elapseMs == 0 ? 1 : elapseMs;
    observed::LinkTimer* free = nullptr;
    for (observed::LinkTimer& timer : link_->timers) {
      if (timer.active != 0 && timer.processId == pid && timer.hwnd == window && timer.id == id) {
        timer.period = period;
        timer.due = observed::Atomic(link_->now).load() + period;
        return id == 0 ? 1 : id;
      }
      if (timer.active == 0 && free == nullptr) free = &timer;
    }
    if (free == nullptr) return 0;  // the table is full: no timer
    *free = {1, pid, window, id, observed::Atomic(link_->now).load() + period, period, 0};
    return id == 0 ? 1 : id;
  }

  qx::BOOL KillTimer(qx::HWND hwnd, qx::UINT_PTR id) override {
    const observed::LinkLock lock(*link_);
    const std::uint32_t pid = ::GetCurrentProcessId();
    for (observed::LinkTimer& timer : link_->timers) {
      if (timer.active != 0 && timer.processId == pid && timer.hwnd == reinterpret_cast<std::uintptr_t>(hwnd) &&
          timer.id == id) {
        timer.active = 0;
        return TRUE;
      }
    }
    return FALSE;
  }

  std::u16string WindowImage(qx::HWND hwnd) override {
    ::DWORD pid = 0;
    ::GetWindowThreadProcessId(W(hwnd), &pid);
    return ProcessImage(pid);
  }

  std::u16string ProcessImage(qx::DWORD pid) override {
    if (pid == 0) return {};
    const ::HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return {};
    wchar_t path[MAX_PATH] = {};
    ::DWORD length = MAX_PATH;
    const bool named = ::QueryFullProcessImageNameW(process, 0, path, &length) != 0;
    ::CloseHandle(process);
    return named ? std::u16string(reinterpret_cast<const char16_t*>(path), length) : std::u16string();
  }

 private:
  LinkObserver() = default;

  bool Open(const std::wstring& linkPath, const std::wstring& tracePath) {
    file_ = ::CreateFileW(linkPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    mapping_ = ::CreateFileMappingW(file_, nullptr, PAGE_READWRITE, 0, sizeof(observed::WorldLink), nullptr);
    if (mapping_ == nullptr) return false;
    link_ = static_cast<observed::WorldLink*>(
        ::MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(observed::WorldLink)));
    if (link_ == nullptr || link_->magic != observed::kLinkMagic || link_->version != observed::kLinkVersion) {
      return false;
    }
    trace_ = ::CreateFileW(tracePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return trace_ != INVALID_HANDLE_VALUE;
  }

  ::HANDLE file_ = INVALID_HANDLE_VALUE;
  ::HANDLE mapping_ = nullptr;
  ::HANDLE trace_ = INVALID_HANDLE_VALUE;
  observed::WorldLink* link_ = nullptr;
  std::string image_;
};

namespace {

class LinkedObservation final : public Observation {
 public:
  LinkedObservation(Platform& services, std::unique_ptr<LinkObserver> observer)
      : observer_(std::move(observer)), observed_(services, *observer_) {}
  Platform& platform() override { return observed_.platform(); }

 private:
  std::unique_ptr<LinkObserver> observer_;
  observed::ObservedPlatform observed_;  // goes first: its end is written through the observer
};

}  // namespace

std::unique_ptr<Observation> ObserveFromEnvironment(Platform& services) {
  auto observer = LinkObserver::FromEnvironment();
  if (!observer) return nullptr;
  observer->SetImage(services.processes.GetModuleFileNameW());
  return std::make_unique<LinkedObservation>(services, std::move(observer));
}

}  // namespace qx::win32
