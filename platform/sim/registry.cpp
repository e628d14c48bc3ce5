#include "platform/sim/registry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "platform/sim/reg_format.h"
#include "platform/sim/text.h"

namespace qx::sim {

namespace {

// Win32's longest value name, in characters.
constexpr std::size_t kMaxValueNameLength = 16383;

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::uintptr_t HandleValue(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

// Whether string data holds a zero code unit: whole code units only.
bool HasTerminator(std::span<const BYTE> data) {
  if (data.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < data.size(); i += 2) {
    if (data[i] == 0 && data[i + 1] == 0) return true;
  }
  return false;
}

bool IsRootValue(std::uintptr_t value) {
  return std::any_of(std::begin(kRegistryRoots), std::end(kRegistryRoots),
                     [value](HKEY root) { return HandleValue(root) == value; });
}

template <typename Values>
auto FindValueIn(Values& values, std::u16string_view name) {
  return std::find_if(values.begin(), values.end(), [name](const RegValue& v) { return NamesEqual(v.name, name); });
}

}  // namespace

std::u16string_view RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  return {};
}

std::optional<HKEY> RootFromName(std::u16string_view name) {
  struct Alias {
    std::u16string_view name;
    HKEY root;
  };
  const Alias aliases[] = {
      {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {u"HKCR", HKEY_CLASSES_ROOT},
      {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER}, {u"HKCU", HKEY_CURRENT_USER},
      {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {u"HKLM", HKEY_LOCAL_MACHINE},
  };
  for (const Alias& alias : aliases) {
    if (NamesEqual(alias.name, name)) return alias.root;
  }
  return std::nullopt;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

std::optional<std::vector<std::u16string_view>> SplitKeyPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find(u'\\', start);
    const std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (part.empty() || part.size() > kMaxKeyNameLength || parts.size() >= kMaxKeyDepth) return std::nullopt;
    parts.push_back(part);
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

// ---- RegistryImage ----------------------------------------------------------

const RegistryImage::Key* RegistryImage::Key::Find(std::u16string_view path) const {
  const auto parts = SplitKeyPath(path);
  if (!parts) return nullptr;
  const Key* key = this;
  for (std::u16string_view part : *parts) {
    const auto it = std::find_if(key->subKeys.begin(), key->subKeys.end(),
                                 [part](const Key& k) { return NamesEqual(k.name, part); });
    if (it == key->subKeys.end()) return nullptr;
    key = &*it;
  }
  return key;
}

const RegValue* RegistryImage::Key::FindValue(std::u16string_view valueName) const {
  const auto it = FindValueIn(values, valueName);
  return it == values.end() ? nullptr : &*it;
}

const RegistryImage::Key* RegistryImage::Find(HKEY root, std::u16string_view path) const {
  const std::u16string_view rootName = RootName(root);
  if (rootName.empty()) return nullptr;
  for (const Key& key : roots) {
    if (key.name == rootName) return key.Find(path);
  }
  return nullptr;
}

// ---- Diff -----------------------------------------------------------------

namespace {

using ImageKey = RegistryImage::Key;

std::string ValueText(const RegValue& value) {
  return RegValueNameText(value.name) + " = " + RegValueDataText(value.type, value.data);
}

using Kind = RegChange::Kind;

void DiffCreated(const ImageKey& key, const std::string& path, std::vector<RegChange>& out) {
  out.push_back({Kind::KeyCreated, path, {}, {}});
  for (const RegValue& value : key.values) out.push_back({Kind::ValueAdded, path, value, {}});
  for (const ImageKey& sub : key.subKeys) DiffCreated(sub, path + "\\" + Utf8(sub.name), out);
}

const ImageKey* FindSub(const ImageKey& key, std::u16string_view name) {
  const auto it = std::find_if(key.subKeys.begin(), key.subKeys.end(),
                               [name](const ImageKey& k) { return NamesEqual(k.name, name); });
  return it == key.subKeys.end() ? nullptr : &*it;
}

// Changes read in the key's own order: what was there (kept, changed or
// gone) first, then what is new, which is where creation order puts it.
void DiffKey(const ImageKey& before, const ImageKey& after, const std::string& path, std::vector<RegChange>& out) {
  for (const RegValue& old : before.values) {
    const RegValue* now = after.FindValue(old.name);
    if (now == nullptr) {
      out.push_back({Kind::ValueRemoved, path, old, {}});
    } else if (!(*now == old)) {
      out.push_back({Kind::ValueChanged, path, *now, old});
    }
  }
  for (const RegValue& value : after.values) {
    if (before.FindValue(value.name) == nullptr) out.push_back({Kind::ValueAdded, path, value, {}});
  }
  for (const ImageKey& old : before.subKeys) {
    const std::string subPath = path + "\\" + Utf8(old.name);
    if (const ImageKey* now = FindSub(after, old.name)) {
      DiffKey(old, *now, subPath, out);
    } else {
      out.push_back({Kind::KeyDeleted, subPath, {}, {}});
    }
  }
  for (const ImageKey& sub : after.subKeys) {
    if (FindSub(before, sub.name) == nullptr) DiffCreated(sub, path + "\\" + Utf8(sub.name), out);
  }
}

}  // namespace

std::vector<RegChange> Changes(const RegistryImage& before, const RegistryImage& after) {
  std::vector<RegChange> out;
  for (HKEY root : kRegistryRoots) {
    const ImageKey* a = before.Find(root, u"");
    const ImageKey* b = after.Find(root, u"");
    const ImageKey empty{std::u16string(RootName(root)), {}, {}};
    DiffKey(a != nullptr ? *a : empty, b != nullptr ? *b : empty, Utf8(RootName(root)), out);
  }
  return out;
}

std::vector<std::string> Diff(const RegistryImage& before, const RegistryImage& after) {
  std::vector<std::string> out;
  for (const RegChange& change : Changes(before, after)) {
    const std::string key = "[" + change.key + "]";
    switch (change.kind) {
      case Kind::KeyCreated: out.push_back("+ " + key); break;
      case Kind::KeyDeleted: out.push_back("- " + key); break;
      case Kind::ValueAdded: out.push_back("+ " + key + " " + ValueText(change.value)); break;
      case Kind::ValueRemoved: out.push_back("- " + key + " " + ValueText(change.value)); break;
      case Kind::ValueChanged:
        out.push_back("~ " + key + " " + ValueText(change.value) + " (was " +
                      (change.was.name == change.value.name ? RegValueDataText(change.was.type, change.was.data)
                                                            : ValueText(change.was)) +
                      ")");
        break;
    }
  }
  return out;
}

// ---- SimRegistry ----------------------------------------------------------

namespace {

// Hashing and comparing names the way the registry matches them, so an index
// can be searched with any spelling of a name without building a folded copy.
struct FoldedHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view name) const {
    std::size_t hash = 14695981039346656037ULL;  // FNV-1a over the folded units
    for (char16_t c : name) hash = (hash ^ FoldAscii(c)) * 1099511628211ULL;
    return hash;
  }
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return NamesEqual(a, b); }
};

}  // namespace

// A key keeps its sub-keys and values in creation order, which is the order
// enumeration and export show, and beside each list an index by folded name,
// so that finding one entry costs the same however many siblings it has.
struct SimRegistry::Node : std::enable_shared_from_this<Node> {
  std::u16string name;
  Node* parent = nullptr;  // meaningful only while the key is not deleted
  std::size_t depth = 0;   // 0 for a root
  bool deleted = false;
  std::vector<RegValue> values;
  std::vector<std::shared_ptr<Node>> children;
  // Views of the children's own names, which never change and live as long
  // as the child is attached.
  std::unordered_map<std::u16string_view, Node*, FoldedHash, FoldedEqual> childIndex;
  // Value name to its position in values.
  std::unordered_map<std::u16string, std::size_t, FoldedHash, FoldedEqual> valueIndex;

  Node* Child(std::u16string_view childName) const {
    const auto it = childIndex.find(childName);
    return it == childIndex.end() ? nullptr : it->second;
  }

  Node* AddChild(std::u16string_view childName) {
    auto child = std::make_shared<Node>();
    child->name = std::u16string(childName);
    child->parent = this;
    child->depth = depth + 1;
    Node* added = child.get();
    children.push_back(std::move(child));
    childIndex.emplace(added->name, added);
    return added;
  }

  void RemoveChild(Node* child) {
    childIndex.erase(std::u16string_view(child->name));
    children.erase(std::find_if(children.begin(), children.end(), [child](const auto& c) { return c.get() == child; }));
  }

  RegValue* FindValue(std::u16string_view valueName) {
    const auto it = valueIndex.find(valueName);
    return it == valueIndex.end() ? nullptr : &values[it->second];
  }

  // A value set again keeps its place among the key's values.
  void StoreValue(std::u16string_view valueName, DWORD type, std::span<const BYTE> data) {
    if (RegValue* value = FindValue(valueName)) {
      value->type = type;
      value->data.assign(data.begin(), data.end());
      return;
    }
    valueIndex.emplace(std::u16string(valueName), values.size());
    values.push_back({std::u16string(valueName), type, {data.begin(), data.end()}});
  }

  bool EraseValue(std::u16string_view valueName) {
    const auto it = valueIndex.find(valueName);
    if (it == valueIndex.end()) return false;
    const std::size_t position = it->second;
    valueIndex.erase(it);
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& [indexed, at] : valueIndex) {
      if (at > position) --at;
    }
    return true;
  }
};

SimRegistry::SimRegistry(CallLedger& ledger) : ledger_(ledger) {
  for (std::size_t i = 0; i < std::size(kRegistryRoots); ++i) {
    roots_[i] = std::make_shared<Node>();
    roots_[i]->name = std::u16string(RootName(kRegistryRoots[i]));
  }
}

SimRegistry::~SimRegistry() = default;

SimRegistry::Node* SimRegistry::RootNode(HKEY root) const {
  for (std::size_t i = 0; i < std::size(kRegistryRoots); ++i) {
    if (kRegistryRoots[i] == root) return roots_[i].get();
  }
  return nullptr;
}

SimRegistry::Node* SimRegistry::Resolve(HKEY key, LONG* error, REGSAM need) const {
  if (Node* root = RootNode(key)) return root;
  const auto it = handles_.find(HandleValue(key));
  if (it == handles_.end()) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second.node->deleted) {
    *error = ERROR_KEY_DELETED;
    return nullptr;
  }
  if ((it->second.access & need) != need) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return it->second.node.get();
}

SimRegistry::Node* SimRegistry::Walk(Node* from, const std::vector<std::u16string_view>& parts) {
  Node* node = from;
  for (std::u16string_view part : parts) {
    node = node->Child(part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

SimRegistry::Node* SimRegistry::WalkPath(HKEY root, std::u16string_view path) const {
  Node* node = RootNode(root);
  const auto parts = SplitKeyPath(path);
  if (node == nullptr || !parts) return nullptr;
  return Walk(node, *parts);
}

SimRegistry::Node* SimRegistry::MakePath(Node* from, const std::vector<std::u16string_view>& parts,
                                         bool* created) {
  Node* node = from;
  *created = false;
  for (std::u16string_view part : parts) {
    Node* next = node->Child(part);
    *created = next == nullptr;
    if (next == nullptr) next = node->AddChild(part);
    node = next;
  }
  return node;
}

void SimRegistry::Detach(Node* node) {
  // Mark the whole subtree first: handles may keep any part of it alive.
  std::vector<Node*> pending{node};
  while (!pending.empty()) {
    Node* n = pending.back();
    pending.pop_back();
    n->deleted = true;
    for (const auto& child : n->children) pending.push_back(child.get());
  }
  node->parent->RemoveChild(node);
}

HKEY SimRegistry::AddHandle(const std::shared_ptr<Node>& node, REGSAM access) {
  while (IsRootValue(nextHandle_) || handles_.count(nextHandle_) != 0) nextHandle_ += 4;
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(value, Handle{node, PathOf(node.get()), access});
  ledger_.handles().Opened(HandleKind::RegistryKey, value, Utf8(handles_.at(value).path));
  return reinterpret_cast<HKEY>(value);
}

std::u16string SimRegistry::PathOf(const Node* node) {
  std::vector<const Node*> chain;
  for (const Node* n = node; n != nullptr; n = n->parent) chain.push_back(n);
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += u'\\';
    path += (*it)->name;
  }
  return path;
}

// The existing key subKey below the key behind a handle; null with the
// error a Win32 call would give otherwise.
SimRegistry::Node* SimRegistry::FindExisting(HKEY key, std::u16string_view subKey, LONG* error) const {
  Node* base = Resolve(key, error);
  if (base == nullptr) return nullptr;
  const auto parts = SplitKeyPath(subKey);
  if (!parts) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  Node* node = Walk(base, *parts);
  if (node == nullptr) *error = ERROR_FILE_NOT_FOUND;
  return node;
}

LONG SimRegistry::RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result) {
  if (const auto fault = ledger_.Enter(Call::RegOpenKeyExW)) return *fault;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  Node* node = FindExisting(key, subKey, &error);
  if (node == nullptr) return error;
  *result = AddHandle(node->shared_from_this(), access);
  return ERROR_SUCCESS;
}

LONG SimRegistry::RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result,
                                  DWORD* disposition) {
  if (const auto fault = ledger_.Enter(Call::RegCreateKeyExW)) return *fault;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  Node* base = Resolve(key, &error);
  if (base == nullptr) return error;
  const auto parts = SplitKeyPath(subKey);
  if (!parts || base->depth + parts->size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  // Opening what is already there needs no right to create.
  if (Walk(base, *parts) == nullptr && Resolve(key, &error, KEY_CREATE_SUB_KEY) == nullptr) return error;
  bool created = false;
  Node* node = MakePath(base, *parts, &created);
  if (created) ++generation_;
  *result = AddHandle(node->shared_from_this(), access);
  if (created) Report("create [" + Utf8(PathOf(node)) + "]");
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG SimRegistry::RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data,
                                   DWORD* size) {
  if (const auto fault = ledger_.Enter(Call::RegQueryValueExW)) return *fault;
  LONG error = ERROR_SUCCESS;
  Node* node = Resolve(key, &error, KEY_QUERY_VALUE);
  if (node == nullptr) return error;
  const RegValue* value = node->FindValue(name);
  if (value == nullptr || (plantCaseSensitiveNames_ && value->name != name)) return ERROR_FILE_NOT_FOUND;
  LONG status = ERROR_SUCCESS;
  if (data.data() != nullptr) {
    if (data.size() < value->data.size()) {
      status = ERROR_MORE_DATA;
    } else if (!value->data.empty()) {
      std::memcpy(data.data(), value->data.data(), value->data.size());
    }
  }
  if (type != nullptr) *type = value->type;
  if (size != nullptr) *size = static_cast<DWORD>(value->data.size());
  return status;
}

LONG SimRegistry::RegSetValueExW(HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) {
  if (const auto fault = ledger_.Enter(Call::RegSetValueExW)) return *fault;
  LONG error = ERROR_SUCCESS;
  Node* node = Resolve(key, &error, KEY_SET_VALUE);
  if (node == nullptr) return error;
  if (name.size() > kMaxValueNameLength || data.size() > std::numeric_limits<DWORD>::max()) {
    return ERROR_INVALID_PARAMETER;
  }
  node->StoreValue(name, type, data);
  ++generation_;
  if (observer_) Report("set [" + Utf8(PathOf(node)) + "] " + RegValueNameText(name) + "=" + RegValueReadableText(type, data));
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && !HasTerminator(data)) {
    unterminated_.push_back(Utf8(PathOf(node)) + " \"" + Utf8(name) + "\"");
  }
  return ERROR_SUCCESS;
}

LONG SimRegistry::RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) {
  if (const auto fault = ledger_.Enter(Call::RegEnumKeyExW)) return *fault;
  LONG error = ERROR_SUCCESS;
  Node* node = Resolve(key, &error, KEY_ENUMERATE_SUB_KEYS);
  if (node == nullptr) return error;
  if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& childName = node->children[index]->name;
  if (name.data() == nullptr || name.size() < childName.size() + 1) return ERROR_MORE_DATA;
  std::copy(childName.begin(), childName.end(), name.begin());
  name[childName.size()] = u'\0';
  if (length != nullptr) *length = static_cast<DWORD>(childName.size());
  return ERROR_SUCCESS;
}

LONG SimRegistry::RegDeleteKeyW(HKEY key, std::u16string_view subKey) {
  if (const auto fault = ledger_.Enter(Call::RegDeleteKeyW)) return *fault;
  LONG error = ERROR_SUCCESS;
  Node* node = FindExisting(key, subKey, &error);
  if (node == nullptr) return error;
  if (node->parent == nullptr) return ERROR_ACCESS_DENIED;
  if (observer_) Report("delete [" + Utf8(PathOf(node)) + "]");
  Detach(node);
  ++generation_;
  return ERROR_SUCCESS;
}

LONG SimRegistry::RegCloseKey(HKEY key) {
  if (const auto fault = ledger_.Enter(Call::RegCloseKey)) {
    ledger_.handles().CloseRefused(HandleKind::RegistryKey, HandleValue(key));
    return *fault;
  }
  if (RootNode(key) != nullptr) return ERROR_SUCCESS;
  if (handles_.erase(HandleValue(key)) == 0) return ERROR_INVALID_HANDLE;
  ledger_.handles().Closed(HandleKind::RegistryKey, HandleValue(key));
  return ERROR_SUCCESS;
}

std::vector<std::u16string> SimRegistry::OpenHandlePaths() const {
  std::vector<std::u16string> paths;
  paths.reserve(handles_.size());
  for (const auto& [value, handle] : handles_) paths.push_back(handle.path);
  return paths;
}

bool SimRegistry::KeyExists(HKEY root, std::u16string_view path) const { return WalkPath(root, path) != nullptr; }

std::optional<SimRegistry::Value> SimRegistry::GetValue(HKEY root, std::u16string_view path,
                                                        std::u16string_view name) const {
  Node* node = WalkPath(root, path);
  if (node == nullptr) return std::nullopt;
  const RegValue* value = node->FindValue(name);
  if (value == nullptr) return std::nullopt;
  return *value;
}

bool SimRegistry::SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                           std::span<const BYTE> data) {
  if (name.size() > kMaxValueNameLength || !CreateKey(root, path)) return false;
  Node* node = WalkPath(root, path);
  node->StoreValue(name, type, data);
  ++generation_;
  return true;
}

bool SimRegistry::CreateKey(HKEY root, std::u16string_view path) {
  Node* node = RootNode(root);
  const auto parts = SplitKeyPath(path);
  if (node == nullptr || !parts) return false;
  bool created = false;
  MakePath(node, *parts, &created);
  if (created) ++generation_;
  return true;
}

bool SimRegistry::DeleteKey(HKEY root, std::u16string_view path) {
  Node* node = WalkPath(root, path);
  if (node == nullptr || node->parent == nullptr) return false;
  Detach(node);
  ++generation_;
  return true;
}

bool SimRegistry::DeleteValue(HKEY root, std::u16string_view path, std::u16string_view name) {
  Node* node = WalkPath(root, path);
  if (node == nullptr || !node->EraseValue(name)) return false;
  ++generation_;
  return true;
}

std::vector<std::u16string> SimRegistry::SubKeyNames(HKEY root, std::u16string_view path) const {
  std::vector<std::u16string> names;
  if (const Node* node = WalkPath(root, path)) {
    for (const auto& child : node->children) names.push_back(child->name);
  }
  return names;
}

std::vector<SimRegistry::Value> SimRegistry::Values(HKEY root, std::u16string_view path) const {
  const Node* node = WalkPath(root, path);
  return node != nullptr ? node->values : std::vector<Value>{};
}

namespace {
template <typename NodeT>
RegistryImage::Key CopyKey(const NodeT& node) {
  RegistryImage::Key key{node.name, node.values, {}};
  key.subKeys.reserve(node.children.size());
  for (const auto& child : node.children) key.subKeys.push_back(CopyKey(*child));
  return key;
}
}  // namespace

RegistryImage SimRegistry::Image() const {
  RegistryImage image;
  for (const auto& root : roots_) image.roots.push_back(CopyKey(*root));
  return image;
}

std::vector<BYTE> StringBytes(std::u16string_view text, std::size_t bytes) {
  std::vector<BYTE> data(std::max(bytes, 2 * text.size() + 2), 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  return data;
}

std::vector<BYTE> DwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

std::u16string StringText(std::span<const BYTE> data) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == u'\0') break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace qx::sim
