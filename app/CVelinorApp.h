#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "session/KBaudSession.h"

// The dialog program: reads the last receiver type, port and rate from the INI file beside the
// program, runs the Set Baud sheet until it is closed, and writes the three values back.
class CVelinorApp {
public:
    // Settings in the INI file named after the program, beside it.
    CVelinorApp();
    // Settings in `iniPath` (tests).
    explicit CVelinorApp(std::string iniPath);

    // Takes the program's switches: "--simulate" offers a simulated receiver as a port.
    void ParseCommandLine(const std::string& commandLine);

    // Runs the whole program; false, as there is nothing left to do afterwards.
    bool InitInstance();

    void ReadSettings(int32_t& receiverType, int32_t& portNumber, int32_t& baud);
    // False when the settings could not all be written (the INI file's folder or the file
    // itself may not be written).
    bool WriteSettings(int32_t receiverType, int32_t portNumber, int32_t baud);

    const std::string& IniPath() const { return iniPath; }
    bool SimulatesReceiver() const { return simulate; }
    // Where the page's sessions get their links and receivers (tests); a serial port and the
    // catalogue's receivers when empty.
    void SetLinkFactory(KBaudSession::LinkFactory factory) { linkFactory = std::move(factory); }
    void SetReceiverFactory(KBaudSession::ReceiverFactory factory) {
        receiverFactory = std::move(factory);
    }

    // Where the one notice that the settings were not saved goes; a message box unless replaced
    // (tests).
    void SetNotice(std::function<void(const std::string& text)> notice) { showNotice = std::move(notice); }
    // That notice for the INI file at `path`.
    static std::string NotSavedText(const std::string& path);

    static constexpr const char* kCaption = "Quorvex Velinor";

private:
    std::string iniPath;
    bool simulate = false;
    KBaudSession::LinkFactory linkFactory;
    KBaudSession::ReceiverFactory receiverFactory;
    std::function<void(const std::string&)> showNotice;
};
