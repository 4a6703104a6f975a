#include "sim/KSimFactory.h"

#include "receivers/KReceiverCatalogue.h"
#include "receivers/KReceiverFamily.h"

namespace {

const KReceiverFamily* SimulatingFamily(int32_t typeId) {
    const KReceiverFamily* family = FamilyOfType(typeId);
    return family && family->createDevice ? family : nullptr;
}

} // namespace

namespace KSimFactory {

bool IsSimulated(int32_t typeId) { return SimulatingFamily(typeId) != nullptr; }

std::vector<int32_t> SimulatedTypes() {
    std::vector<int32_t> types;
    for (const ReceiverCatalogueRow& row : ReceiverCatalogue) {
        if (row.displayName[0] == '\0') break;
        if (IsSimulated(row.typeId)) types.push_back(row.typeId);
    }
    return types;
}

std::string RatesText(int32_t typeId) {
    const KReceiverFamily* family = SimulatingFamily(typeId);
    if (!family) return "";
    const auto rates = family->deviceRates(typeId);
    std::string text;
    for (size_t i = 0; i < rates.size(); ++i) {
        if (i > 0) text += i + 1 == rates.size() ? " or " : ", ";
        text += std::to_string(rates[i]);
    }
    return text;
}

std::unique_ptr<KSimDevice> CreateDevice(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                         std::string& error) {
    const ReceiverCatalogueRow* row = FindCatalogueRow(typeId);
    if (!row) {
        error = "unknown receiver type " + std::to_string(typeId);
        return nullptr;
    }
    const std::string name = row->displayName;
    const KReceiverFamily* family = SimulatingFamily(typeId);
    if (!family) {
        error = name + " is not simulated yet";
        return nullptr;
    }
    if (baud <= 0 || !family->DeviceRunsAt(typeId, static_cast<uint32_t>(baud))) {
        error = name + " cannot run at " + std::to_string(baud) + " baud (it runs at " + RatesText(typeId) + ")";
        return nullptr;
    }
    auto device = family->createDevice(typeId, static_cast<uint32_t>(baud), options);
    if (!device) {
        error = "the simulated " + name + " cannot be cabled to its port '" + options.receiverPort + "'";
        return nullptr;
    }
    error.clear();
    return device;
}

std::unique_ptr<KSimWorld> CreateWorld(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                       const KSimWorldOptions& worldOptions, std::string& error) {
    auto device = CreateDevice(typeId, baud, options, error);
    if (!device) return nullptr;
    return std::make_unique<KSimWorld>(std::move(device), worldOptions);
}

} // namespace KSimFactory
