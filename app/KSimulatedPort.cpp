#include "app/KSimulatedPort.h"

#include <algorithm>
#include <string>
#include <vector>

#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimComm.h"
#include "sim/KSimWorld.h"

KSimulatedPort::KSimulatedPort(uint32_t seed) : random(seed) {}

KSimulatedPort::~KSimulatedPort() {
    driver.reset();
    world.reset();
}

KBaudSession::LinkFactory KSimulatedPort::Prepare(int32_t receiverType, int32_t targetBaud) {
    if (receiverType != type || !world) {
        driver.reset();
        world.reset();
        type = receiverType;
        const KCatalogueType* row = FindCatalogueType(receiverType);
        const std::vector<uint32_t> deviceRates = KSimFactory::Rates(receiverType);
        std::vector<int32_t> starts;
        for (int32_t rate : row ? row->rates : std::span<const int32_t>())
            if (rate != targetBaud &&
                std::find(deviceRates.begin(), deviceRates.end(), static_cast<uint32_t>(rate)) != deviceRates.end())
                starts.push_back(rate);
        if (!starts.empty()) {
            const int32_t start =
                starts[std::uniform_int_distribution<size_t>(0, starts.size() - 1)(random)];
            std::string error;
            world = KSimFactory::CreateWorld(receiverType, start, {}, {}, error);
        }
        if (world) {
            driver = std::make_unique<KRealTimeDriver>(*world);
            driver->Start();
        }
    }
    KSimWorld* line = world.get();
    return [line]() -> std::unique_ptr<KSerialComm> {
        if (!line) return nullptr;
        return std::make_unique<KSimComm>(*line);
    };
}

uint32_t KSimulatedPort::DeviceBaud() {
    if (!world) return 0;
    return world->WithDevice([](KSimDevice& device) { return device.Baud(); });
}
