// The tray client's profile: the settings it keeps in the registry under
// HKEY_CURRENT_USER\Software\Brennic Inc\<program name>\Quorvix.
#pragma once

#include <string_view>

#include "client/user_agent.h"
#include "platform/framework/framework.h"

namespace qx {

inline constexpr std::u16string_view kCompanyKey = u"Brennic Inc";
inline constexpr std::u16string_view kSection = u"Quorvix";

inline constexpr std::u16string_view kUseGateway = u"USEQUORVIX";
inline constexpr std::u16string_view kAccountId = u"ID";
inline constexpr std::u16string_view kPassword = u"PWD";
inline constexpr std::u16string_view kDocMorphing = u"DOC";
inline constexpr std::u16string_view kUseImage = u"USEIMG";
inline constexpr std::u16string_view kUseNavi = u"USENAVI";
inline constexpr std::u16string_view kImageBooster = u"IMGBOOSTER";
inline constexpr std::u16string_view kImageLevel = u"IMGLEVEL";

// Flags are on only when exactly 1.
inline bool IsOn(int flag) { return flag == 1; }

// Reads what the gateway token is made of, in the order the composer reads
// it; the image level is not read while images are off.
GatewayOptions ReadGatewayOptions(CWinApp& app);

// Rewrites the browser's "UA-Language" value under userAgentKey from the
// whole profile, the gateway switch included.
void UpdateUserAgent(CWinApp& app, std::u16string_view userAgentKey);

}  // namespace qx
