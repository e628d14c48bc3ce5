#include "client/profile.h"

namespace qx {

GatewayOptions ReadGatewayOptions(CWinApp& app) {
  GatewayOptions options;
  options.id = app.GetProfileString(kSection, kAccountId, u"");
  options.scrambledPassword = app.GetProfileString(kSection, kPassword, u"");
  options.doc = app.GetProfileInt(kSection, kDocMorphing, 1);
  options.useImage = app.GetProfileInt(kSection, kUseImage, 1);
  options.useNavi = app.GetProfileInt(kSection, kUseNavi, 1);
  options.imageBooster = app.GetProfileInt(kSection, kImageBooster, 0);
  options.imageLevel = options.useImage != 0 ? app.GetProfileInt(kSection, kImageLevel, 2) : 0;
  options.useGateway = app.GetProfileInt(kSection, kUseGateway, 0);
  return options;
}

void UpdateUserAgent(CWinApp& app, std::u16string_view userAgentKey) {
  const GatewayOptions options = ReadGatewayOptions(app);
  Platform& platform = app.platform();
  SetUaLanguage(platform.registry, userAgentKey, IsOn(options.useGateway), BuildGatewayToken(platform.codePage, options));
}

}  // namespace qx
