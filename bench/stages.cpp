#include "bench/stages.h"

#include <string>

#include "client/quorvix.h"

namespace qx::bench {

namespace {

constexpr std::u16string_view kClientPath = u"\\Program Files\\Quorvix\\Quorvix.exe";

std::vector<BYTE> Text(std::u16string_view text) { return sim::StringBytes(text); }

}  // namespace

SwitchStage::SwitchStage(std::size_t entries) : control_(device_.platform(), kLauncher2002Build) {
  for (std::size_t i = 0; i < entries; ++i) {
    const std::u16string entry = std::u16string(kProviderKey) + u"\\HTTP-" + sim::Utf16(std::to_string(i));
    device_.registry().SetValue(HKEY_LOCAL_MACHINE, entry, u"DestId", REG_SZ, Text(u"{436EF144-B4FB-4863-A041}"));
    device_.registry().SetValue(HKEY_LOCAL_MACHINE, entry, u"SrcId", REG_SZ, Text(u"{A1182988-0D73-439e-87AD}"));
  }
}

void SwitchStage::SwitchOnAndOff() {
  control_.ConfigureProxies(TRUE, control_.GatewayHttpProxy(), control_.GatewaySocksProxy());
  control_.ConfigureProxies(FALSE, {}, {});
}

PollStage::PollStage() : device_(std::make_unique<sim::SimDevice>()) {
  sim::Kernel& kernel = device_->kernel();
  kernel.InstallProgram(kClientPath, {[](Platform& platform, std::u16string_view) {
                                        return RunQuorvix(platform, kClient2002Build);
                                      },
                                      {128, 133, 134}});
  device_->registry().SetValue(HKEY_LOCAL_MACHINE, std::u16string(kProviderKey) + u"\\HTTP-x", u"DestId", REG_SZ,
                               Text(u"{dest}"));
  kernel.StartProgram(kClientPath, u"");
  SHELLEXECUTEINFOW browser;
  browser.lpVerb = u"open";
  browser.lpFile = u"iexplore.exe";
  kernel.ShellExecuteExW(&browser);
  kernel.RunUntilQuiet();
  // The first ticks write the entries for the browser and show the button;
  // from then on nothing changes.
  for (int i = 0; i < 5; ++i) Tick();
}

void PollStage::Tick() { device_->kernel().AdvanceTime(200); }

}  // namespace qx::bench
