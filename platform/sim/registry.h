// The simulated device's registry: three root keys holding a tree of keys and
// typed values, reached through IRegistry with Win32's handles and error
// codes, plus direct accessors that tests and the scenario runner use to set
// the stage and inspect the outcome without going through the ledger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/ledger.h"

namespace qx::sim {

// Win32's answer for a handle whose key has been deleted under it.
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// Win32's longest key name, in characters.
inline constexpr std::size_t kMaxKeyNameLength = 255;
// Win32 refuses trees deeper than this many levels below a root; holding to
// it also bounds every recursive walk over the tree.
inline constexpr std::size_t kMaxKeyDepth = 512;

// The access rights a key handle must hold for each kind of use.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;

struct RegValue {
  std::u16string name;  // empty: the key's default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  friend bool operator==(const RegValue&, const RegValue&) = default;
};

// A deep copy of the whole registry, to keep and compare.
struct RegistryImage {
  struct Key {
    std::u16string name;
    std::vector<RegValue> values;  // in insertion order
    std::vector<Key> subKeys;      // in creation order
    friend bool operator==(const Key&, const Key&) = default;

    // The key at path below this one (case-insensitive), or nullptr.
    [[nodiscard]] const Key* Find(std::u16string_view path) const;
    [[nodiscard]] const RegValue* FindValue(std::u16string_view valueName) const;
  };
  // HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, in that order,
  // each named by its long name.
  std::vector<Key> roots;
  friend bool operator==(const RegistryImage&, const RegistryImage&) = default;

  [[nodiscard]] const Key* Find(HKEY root, std::u16string_view path) const;
};

// The three roots in export order.
inline const HKEY kRegistryRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

// "HKEY_LOCAL_MACHINE" etc.; empty for a handle that is not a root.
std::u16string_view RootName(HKEY root);
// The long names and HKCR / HKCU / HKLM, without regard to case.
std::optional<HKEY> RootFromName(std::u16string_view name);
// Key and value names compare with ASCII case folding.
bool NamesEqual(std::u16string_view a, std::u16string_view b);
// The parts of a backslash-separated key path; an empty path has none.
// nullopt when a part is empty or longer than kMaxKeyNameLength.
std::optional<std::vector<std::u16string_view>> SplitKeyPath(std::u16string_view path);

// One line per change from before to after, UTF-8, in a stable order: per
// root, depth-first, values before sub-keys; within a key, what existed
// before in its order, then what is new in creation order.
//   "+ [KEY]"                          created key (then its values, sub-keys)
//   "- [KEY]"                          deleted key (only the top-most one)
//   "+ [KEY] \"Name\" = dword:0000..." new value
//   "~ [KEY] @ = \"new\" (was \"old\")" changed value
//   "- [KEY] \"Name\" = hex:..."       removed value, with what it held
std::vector<std::string> Diff(const RegistryImage& before, const RegistryImage& after);

// The same changes, in the same order, as data, for readers that show them
// in a notation of their own.
struct RegChange {
  enum class Kind { KeyCreated, KeyDeleted, ValueAdded, ValueChanged, ValueRemoved } kind;
  std::string key;  // the full path, root first, UTF-8
  RegValue value;   // added or changed: the value now; removed: what it held
  RegValue was;     // changed: the value before
};
std::vector<RegChange> Changes(const RegistryImage& before, const RegistryImage& after);

// Value data as the registry keeps it. A string's UTF-16 bytes and its
// terminator, zero bytes after it up to `bytes` when that is larger.
std::vector<BYTE> StringBytes(std::u16string_view text, std::size_t bytes = 0);
std::vector<BYTE> DwordBytes(DWORD value);
// A string value's text: up to its first zero code unit.
std::u16string StringText(std::span<const BYTE> data);

class SimRegistry : public IRegistry {
 public:
  using Value = RegValue;

  explicit SimRegistry(CallLedger& ledger);
  ~SimRegistry() override;
  SimRegistry(const SimRegistry&) = delete;
  SimRegistry& operator=(const SimRegistry&) = delete;

  // IRegistry, each counted by the ledger first; a planned fault answers the
  // call with its error and leaves the registry and every out-parameter as
  // they were. A handle keeps the access it was opened with: reading,
  // writing, enumerating and creating below it need their right (the roots
  // have every right), as on Win32, which answers ERROR_ACCESS_DENIED.
  [[nodiscard]] LONG RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result) override;
  [[nodiscard]] LONG RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result,
                                     DWORD* disposition) override;
  [[nodiscard]] LONG RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data,
                                      DWORD* size) override;
  LONG RegSetValueExW(HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) override;
  [[nodiscard]] LONG RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) override;
  LONG RegDeleteKeyW(HKEY key, std::u16string_view subKey) override;
  LONG RegCloseKey(HKEY key) override;

  // Handles handed out and not closed yet (roots are never counted), and
  // their keys' full paths in the order they were opened.
  [[nodiscard]] std::size_t OpenHandleCount() const { return handles_.size(); }
  [[nodiscard]] std::vector<std::u16string> OpenHandlePaths() const;
  // String values a program stored without a terminator inside their data,
  // as "KEY" "Name" lines (UTF-8): a reader takes whatever follows them.
  [[nodiscard]] const std::vector<std::string>& UnterminatedWrites() const { return unterminated_; }

  // Direct access, not counted by the ledger. root must be one of the three
  // roots and path a valid key path; otherwise lookups find nothing and
  // changes are refused (false).
  [[nodiscard]] bool KeyExists(HKEY root, std::u16string_view path) const;
  [[nodiscard]] std::optional<Value> GetValue(HKEY root, std::u16string_view path, std::u16string_view name) const;
  // Creates the path as needed.
  bool SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                std::span<const BYTE> data);
  bool CreateKey(HKEY root, std::u16string_view path);
  // Removes the key and everything below it; open handles on it go stale.
  // A missing key or a root gives false.
  bool DeleteKey(HKEY root, std::u16string_view path);
  // A missing key or value gives false.
  bool DeleteValue(HKEY root, std::u16string_view path, std::u16string_view name);
  [[nodiscard]] std::vector<std::u16string> SubKeyNames(HKEY root, std::u16string_view path) const;
  [[nodiscard]] std::vector<Value> Values(HKEY root, std::u16string_view path) const;

  [[nodiscard]] RegistryImage Image() const;
  // Counts every change made through the services or the direct accessors:
  // an image taken when it had some value is still the whole registry while
  // it keeps it, so a reader need not copy the registry again to know.
  [[nodiscard]] std::uint64_t Generation() const { return generation_; }

  // Told of every change a program makes through the services, in order:
  // "create [KEY]", "set [KEY] \"Name\" = DATA", "delete [KEY]". The direct
  // accessors (the world's own changes) are not reported.
  void SetChangeObserver(std::function<void(const std::string&)> observer) { observer_ = std::move(observer); }
  // A fault planted on purpose, to show that the comparison with Win32
  // finds it: value names read with regard to case, as Win32 never does.
  void PlantCaseSensitiveValueNames(bool on) { plantCaseSensitiveNames_ = on; }

 private:
  struct Node;
  struct Handle {
    std::shared_ptr<Node> node;
    std::u16string path;
    REGSAM access = 0;
  };

  // The key a handle stands for (roots included); nullptr with *error set
  // for an unknown handle or a deleted key.
  // A handle without every right in `need` gives ERROR_ACCESS_DENIED.
  Node* Resolve(HKEY key, LONG* error, REGSAM need = 0) const;
  Node* FindExisting(HKEY key, std::u16string_view subKey, LONG* error) const;
  Node* RootNode(HKEY root) const;
  static Node* Walk(Node* from, const std::vector<std::u16string_view>& parts);
  Node* WalkPath(HKEY root, std::u16string_view path) const;
  // Creates the missing parts; *created tells whether the last one was new.
  static Node* MakePath(Node* from, const std::vector<std::u16string_view>& parts, bool* created);
  static void Detach(Node* node);
  HKEY AddHandle(const std::shared_ptr<Node>& node, REGSAM access);
  void Report(const std::string& line) const {
    if (observer_) observer_(line);
  }
  static std::u16string PathOf(const Node* node);

  CallLedger& ledger_;
  std::shared_ptr<Node> roots_[3];
  std::map<std::uintptr_t, Handle> handles_;
  std::vector<std::string> unterminated_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::uint64_t generation_ = 0;
  std::function<void(const std::string&)> observer_;
  bool plantCaseSensitiveNames_ = false;
};

}  // namespace qx::sim
