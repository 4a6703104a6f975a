#include "app/CVelinorApp.h"

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <memory>
#include <random>
#include <sstream>
#include <utility>

#include "app/KSetBaudPPG.h"
#include "app/KSimulatedPort.h"
#include "app/KVelinorPPS.h"
#include "comm/KIniSettingsStore.h"
#include "comm/KPortRegistry.h"

namespace {

constexpr const char* kSection = "BaudSet";

std::string ProgramIniPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return "velinor-dialog.ini";
    return KIniPathBeside(std::string(path, length));
}

} // namespace

CVelinorApp::CVelinorApp() : iniPath(ProgramIniPath()) {}

CVelinorApp::CVelinorApp(std::string path) : iniPath(std::move(path)) {}

void CVelinorApp::ParseCommandLine(const std::string& commandLine) {
    std::istringstream words(commandLine);
    std::string word;
    while (words >> word)
        if (word == "--simulate") simulate = true;
}

bool CVelinorApp::InitInstance() {
    // The page's lists and button are common controls of version 6 (the manifest asks for it).
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    KVelinorPPS sheet(kCaption, nullptr, 0);
    sheet.Header().dwFlags &= ~static_cast<DWORD>(PSH_HASHELP);
    sheet.Header().dwFlags |= PSH_NOAPPLYNOW;

    // Declared before the page, so that it outlives the page's sessions.
    std::unique_ptr<KSimulatedPort> simulated;
    if (simulate) simulated = std::make_unique<KSimulatedPort>(std::random_device{}());

    KSetBaudPPG page(1);
    page.PageHeader().dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
    sheet.AddPage(page);
    if (linkFactory) page.SetLinkFactory(linkFactory);
    if (receiverFactory) page.SetReceiverFactory(receiverFactory);
    page.OfferSimulatedPort(simulated.get());

    ReadSettings(page.receiverType, page.portNumber, page.baud);
    sheet.DoModal();
    // The page stopped its session while its window was destroyed: nothing holds a port now.
    WriteSettings(page.receiverType, page.portNumber, page.baud);
    if (KPortRegistry::Exists()) KPortRegistry::Teardown();
    return false;
}

void CVelinorApp::ReadSettings(int32_t& receiverType, int32_t& portNumber, int32_t& baud) {
    KIniSettingsStore store(iniPath);
    store.ReadInt(0, kSection, "LastRcvr", receiverType, 2);
    store.ReadInt(0, kSection, "LastPort", portNumber, 0);
    store.ReadInt(0, kSection, "LastBaud", baud, 9600);
}

void CVelinorApp::WriteSettings(int32_t receiverType, int32_t portNumber, int32_t baud) {
    KIniSettingsStore store(iniPath);
    store.WriteInt(0, kSection, "LastRcvr", receiverType);
    store.WriteInt(0, kSection, "LastPort", portNumber);
    store.WriteInt(0, kSection, "LastBaud", baud);
}
