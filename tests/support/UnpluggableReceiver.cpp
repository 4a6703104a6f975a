#ifndef _WIN32
#include "support/UnpluggableReceiver.h"

#include <filesystem>
#include <thread>

#include "sim/KSimFactory.h"

bool UnpluggableReceiver::Serve(int32_t type, uint32_t baud, bool silent, std::string& error) {
    simulator.reset();
    KSimDeviceOptions options;
    options.silent = silent;
    auto device = KSimFactory::CreateDevice(type, baud, options, error);
    if (!device) return false;
    simulator = std::make_unique<KPtySimulator>(std::move(device));
    if (!simulator->Start(error)) return false;
    // Replaced in one rename, so the name never points nowhere while the receiver is there.
    const std::string fresh = link + ".new";
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    std::filesystem::create_symlink(simulator->SlavePath(), fresh);
    std::filesystem::rename(fresh, link);
    return true;
}

bool UnpluggableReceiver::UnplugOnceWrittenTo(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (simulator && simulator->BytesFromHost() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool written = simulator && simulator->BytesFromHost() > 0;
    Unplug();
    return written;
}

void UnpluggableReceiver::Unplug() {
    // The name goes first, as udev removes an adapter's: a pseudo-terminal's number is free for
    // the next one made (another test's, another user's) once its last holder closes it, and a
    // name left pointing at the number would lead there.
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    simulator.reset();
}
#endif
