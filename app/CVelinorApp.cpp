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

void ShowNotice(const std::string& text) {
    // The window has closed already: the box has no owner.
    MessageBoxA(nullptr, text.c_str(), CVelinorApp::kCaption, MB_ICONWARNING | MB_OK);
}

} // namespace

CVelinorApp::CVelinorApp() : iniPath(ProgramIniPath()), showNotice(&ShowNotice) {}

CVelinorApp::CVelinorApp(std::string path) : iniPath(std::move(path)), showNotice(&ShowNotice) {}

std::string CVelinorApp::NotSavedText(const std::string& path) {
    return "Settings not saved: " + path + " cannot be written.";
}

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
    // A program unpacked where the user may not write (under Program Files, run as invoker)
    // would otherwise lose the choices without a word, at every exit.
    if (!WriteSettings(page.receiverType, page.portNumber, page.baud) && showNotice)
        showNotice(NotSavedText(iniPath));
    if (KPortRegistry::Exists()) KPortRegistry::Teardown();
    return false;
}

void CVelinorApp::ReadSettings(int32_t& receiverType, int32_t& portNumber, int32_t& baud) {
    KIniSettingsStore store(iniPath);
    store.ReadInt(0, kSection, "LastRcvr", receiverType, 2);
    store.ReadInt(0, kSection, "LastPort", portNumber, 0);
    store.ReadInt(0, kSection, "LastBaud", baud, 9600);
}

bool CVelinorApp::WriteSettings(int32_t receiverType, int32_t portNumber, int32_t baud) {
    KIniSettingsStore store(iniPath);
    store.WriteInt(0, kSection, "LastRcvr", receiverType);
    store.WriteInt(0, kSection, "LastPort", portNumber);
    store.WriteInt(0, kSection, "LastBaud", baud);
    return !store.WriteFailed();
}
