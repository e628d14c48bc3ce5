// The Connection Manager's proxy entries. Gateway on: every HTTP entry points
// at the service's HTTP proxy and a SOCKS twin beside it at the service's
// SOCKS proxy. Gateway off: every HTTP entry gets the build's default proxy
// with proxy type 0, and the twins go away.
#include "devicecontrol/device_control.h"

#include <algorithm>
#include <array>
#include <string>

namespace qx {

namespace {

// Proxy kinds of an entry's "Type".
constexpr DWORD kProxyTypeNone = 0;
constexpr DWORD kProxyTypeHttp = 1;
constexpr DWORD kProxyTypeSocks4 = 4;

std::u16string HostPort(std::u16string_view host, WORD port) {
  std::u16string text(host);
  text += u':';
  for (char c : std::to_string(port)) text += static_cast<char16_t>(c);
  return text;
}

std::u16string EntryPath(std::u16string_view name) {
  std::u16string path(kProviderKey);
  path += u'\\';
  path += name;
  return path;
}

}  // namespace

bool CKeyNameList::Add(std::u16string_view name) {
  if (recordChars_ == 0 || name.size() > recordChars_ - 1) return false;
  names_.emplace_back(name);
  return true;
}

std::u16string SocksTwinName(std::u16string_view httpEntryName) {
  std::u16string twin(u"SOCKS");
  if (httpEntryName.size() > 4) twin += httpEntryName.substr(4);
  return twin;
}

CDeviceControl::CDeviceControl(Platform& platform, const DeviceControlBuild& build)
    : platform_(platform), build_(build) {}

CDeviceControl::~CDeviceControl() = default;

std::u16string CDeviceControl::GatewayHttpProxy() const {
  return HostPort(endpoints::kGatewayProxyHost, endpoints::kGatewayHttpPort);
}

std::u16string CDeviceControl::GatewaySocksProxy() const {
  return HostPort(endpoints::kGatewayProxyHost, endpoints::kGatewaySocksPort);
}

std::u16string CDeviceControl::DefaultProxy() const {
  return HostPort(endpoints::kDefaultProxyHost, build_.defaultProxyPort);
}

BOOL CDeviceControl::ConfigureProxies(BOOL enable, std::u16string_view httpProxy, std::u16string_view socksProxy) {
  // Refuse before touching anything: an over-long address would otherwise
  // switch some entries and not others.
  if (enable && (httpProxy.size() > kMaxProxyChars || socksProxy.size() > kMaxProxyChars)) return FALSE;

  // All names are collected before anything changes, so the twins created
  // below are never visited as entries of their own.
  CKeyNameList names(build_.keyNameRecordChars);
  EnumSubkeyNames(HKEY_LOCAL_MACHINE, kProviderKey, names);
  for (const std::u16string& name : names) {
    if (!IsHttpEntryName(name)) continue;
    SetProxyEntry(enable, EntryPath(name), httpProxy, EntryPath(SocksTwinName(name)), socksProxy);
  }
  names.Clear();
  return TRUE;
}

BOOL CDeviceControl::SetProxyEntry(BOOL enable, std::u16string_view httpKeyPath, std::u16string_view httpProxy,
                                   std::u16string_view socksKeyPath, std::u16string_view socksProxy) {
  if (enable && (httpProxy.size() > kMaxProxyChars || socksProxy.size() > kMaxProxyChars)) return FALSE;
  IRegistry& registry = platform_.registry;

  // The HTTP entry is only ever rewritten, never created: an entry that does
  // not open is not one the Connection Manager has.
  {
    RegKey entry(registry);
    if (entry.Open(HKEY_LOCAL_MACHINE, httpKeyPath) == ERROR_SUCCESS) {
      entry.WriteDword(u"Type", enable ? kProxyTypeHttp : kProxyTypeNone);
      entry.WriteDword(u"Enable", 1);
      if (enable) {
        entry.WriteString(u"Proxy", httpProxy);
      } else {
        entry.WriteString(u"Proxy", DefaultProxy());
      }
    }
  }

  if (!enable) {
    // Off removes the twin whoever made it. It is deleted without being
    // created first: a program stopped between the two (the setup extension
    // terminates the client while it switches off) would otherwise leave an
    // empty SOCKS entry behind.
    registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, socksKeyPath);
    return TRUE;
  }

  RegKey twin(registry);
  if (twin.Open(HKEY_LOCAL_MACHINE, socksKeyPath) != ERROR_SUCCESS) twin.Create(HKEY_LOCAL_MACHINE, socksKeyPath);

  // An existing twin is overwritten value by value; a twin that could not be
  // opened or created takes no writes.
  twin.WriteString(u"ExtraInfo", u"");
  twin.WriteString(u"Override", u"");
  twin.WriteString(u"Username", u"");
  twin.WriteString(u"Proxy", socksProxy);
  twin.WriteDword(u"Enable", 1);
  twin.WriteDword(u"Type", kProxyTypeSocks4);
  std::u16string destId;
  std::u16string srcId;
  ReadNetworkIds(httpKeyPath, &destId, &srcId);
  twin.WriteString(u"DestId", destId);
  twin.WriteString(u"SrcId", srcId);
  return TRUE;
}

BOOL CDeviceControl::ReadNetworkIds(std::u16string_view httpKeyPath, std::u16string* destId, std::u16string* srcId) {
  if (destId != nullptr) destId->clear();
  if (srcId != nullptr) srcId->clear();
  RegKey entry(platform_.registry);
  if (entry.Open(HKEY_LOCAL_MACHINE, httpKeyPath) != ERROR_SUCCESS) return TRUE;
  // A value that does not fit the 512-character buffer with its terminator
  // counts as unreadable and leaves the identifier empty.
  if (destId != nullptr) ReadBoundedString(entry, u"DestId", kNetworkIdReadBytes, destId);
  if (srcId != nullptr) ReadBoundedString(entry, u"SrcId", kNetworkIdReadBytes, srcId);
  return TRUE;
}

BOOL CDeviceControl::EnumSubkeyNames(HKEY root, std::u16string_view path, CKeyNameList& names) {
  names.Clear();
  RegKey key(platform_.registry);
  if (key.Open(root, path) != ERROR_SUCCESS) return FALSE;

  // Any answer other than a name or the end of the list stops the walk: an
  // error that repeats at every index (a key deleted under the handle) would
  // otherwise never end, and a name that did not fit the buffer is not a
  // name we could address. The names read so far are kept and FALSE tells
  // that the list may be short.
  std::array<char16_t, kKeyNameBufferChars> buffer{};
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG result = platform_.registry.RegEnumKeyExW(key.Handle(), index, buffer, &length);
    if (result == ERROR_NO_MORE_ITEMS) return TRUE;
    if (result != ERROR_SUCCESS) return FALSE;
    std::u16string_view name(buffer.data(), std::min<std::size_t>(length, buffer.size()));
    name = name.substr(0, name.find(u'\0'));
    if (!names.Add(name)) return FALSE;
  }
}

BOOL CDeviceControl::IsGatewayProxyActive() {
  CKeyNameList names(build_.keyNameRecordChars);
  EnumSubkeyNames(HKEY_LOCAL_MACHINE, kProviderKey, names);
  const std::u16string gateway = GatewayHttpProxy();
  for (const std::u16string& name : names) {
    if (!IsHttpEntryName(name)) continue;
    RegKey entry(platform_.registry);
    if (entry.Open(HKEY_LOCAL_MACHINE, EntryPath(name)) != ERROR_SUCCESS) continue;
    // A "Proxy" that is missing, of another type or too long for the
    // 256-byte buffer says nothing either way and is passed over.
    std::u16string proxy;
    if (ReadBoundedString(entry, u"Proxy", kProxyCheckReadBytes, &proxy) != ERROR_SUCCESS) continue;
    if (proxy != gateway) return FALSE;
  }
  return TRUE;
}

}  // namespace qx
