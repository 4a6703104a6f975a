#include "families/KSimFactory.h"

#include <algorithm>

#include "families/KReceiverFamily.h"

namespace {

const KReceiverFamily* SimulatingFamily(int32_t typeId) {
    const KReceiverFamily* family = FamilyOfType(typeId);
    return family && family->simulator.create ? family : nullptr;
}

} // namespace

namespace KSimFactory {

bool IsSimulated(int32_t typeId) { return SimulatingFamily(typeId) != nullptr; }

std::vector<int32_t> SimulatedTypes() {
    std::vector<int32_t> types;
    for (const KCatalogueType* type : CatalogueTypes())
        if (IsSimulated(type->typeId)) types.push_back(type->typeId);
    return types;
}

std::vector<uint32_t> Rates(int32_t typeId) {
    const KReceiverFamily* family = SimulatingFamily(typeId);
    if (!family) return {};
    if (family->simulator.rates) {
        const auto own = family->simulator.rates(typeId);
        return {own.begin(), own.end()};
    }
    const auto rates = family->Type(typeId)->rates;
    return {rates.begin(), rates.end()};
}

std::string RatesText(int32_t typeId) {
    const std::vector<uint32_t> rates = Rates(typeId);
    std::string text;
    for (size_t i = 0; i < rates.size(); ++i) {
        if (i > 0) text += i + 1 == rates.size() ? " or " : ", ";
        text += std::to_string(rates[i]);
    }
    return text;
}

std::unique_ptr<KSimDevice> CreateDevice(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                         std::string& error) {
    const KCatalogueType* type = FindCatalogueType(typeId);
    if (!type) {
        error = "unknown receiver type " + std::to_string(typeId);
        return nullptr;
    }
    const std::string name = type->displayName;
    const KReceiverFamily* family = SimulatingFamily(typeId);
    if (!family) {
        error = name + " is not simulated yet";
        return nullptr;
    }
    const std::vector<uint32_t> rates = Rates(typeId);
    if (baud <= 0 || std::find(rates.begin(), rates.end(), static_cast<uint32_t>(baud)) == rates.end()) {
        error = name + " cannot run at " + std::to_string(baud) + " baud (it runs at " + RatesText(typeId) + ")";
        return nullptr;
    }
    auto device = family->simulator.create(typeId, static_cast<uint32_t>(baud), options);
    if (!device) {
        error = "the simulated " + name + " cannot be cabled to its port '" + options.receiverPort + "'";
        return nullptr;
    }
    device->SetName(name);
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
