#include <algorithm>
#include <new>

#include "families/KReceiverFamily.h"
#include "receivers/KMessageReader.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KReceiver.h"

namespace {

std::deque<KReceiverFamily>& Rows() {
    static std::deque<KReceiverFamily> rows = [] {
        std::vector<KReceiverFamily> builtIn = BuiltInFamilies();
        return std::deque<KReceiverFamily>(std::make_move_iterator(builtIn.begin()), std::make_move_iterator(builtIn.end()));
    }();
    return rows;
}

} // namespace

bool KCatalogueType::RunsAt(int32_t baud) const { return std::find(rates.begin(), rates.end(), baud) != rates.end(); }

bool KFamilyProtocol::IsCalled(const std::string& text) const {
    return text == name || std::any_of(aliases.begin(), aliases.end(), [&](const char* alias) { return text == alias; });
}

const KCatalogueType* KReceiverFamily::Type(int32_t typeId) const {
    for (const KCatalogueType& type : types)
        if (type.typeId == typeId) return &type;
    return nullptr;
}

const std::deque<KReceiverFamily>& ReceiverFamilies() { return Rows(); }

void RegisterFamily(KReceiverFamily family) {
    for (KReceiverFamily& row : Rows())
        if (std::string(row.name) == family.name) {
            row = std::move(family);
            return;
        }
    Rows().push_back(std::move(family));
}

const KReceiverFamily* FamilyOfType(int32_t typeId) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.Type(typeId)) return &family;
    return nullptr;
}

std::vector<const KCatalogueType*> CatalogueTypes() {
    std::vector<const KCatalogueType*> types;
    for (const KReceiverFamily& family : ReceiverFamilies())
        for (const KCatalogueType& type : family.types) types.push_back(&type);
    std::stable_sort(types.begin(), types.end(), [](auto* a, auto* b) { return a->typeId < b->typeId; });
    return types;
}

const KCatalogueType* FindCatalogueType(int32_t typeId) {
    const KReceiverFamily* family = FamilyOfType(typeId);
    return family ? family->Type(typeId) : nullptr;
}

std::unique_ptr<KReceiver> CreateReceiver(int32_t typeId) {
    const KReceiverFamily* family = FamilyOfType(typeId);
    if (!family || !family->createReceiver) return nullptr;
    try {
        return family->createReceiver(typeId, true);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<KStreamMonitor> CreateStreamMonitor(const std::string& protocol) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.protocol.IsCalled(protocol) && family.protocol.createMonitor) return family.protocol.createMonitor();
    return nullptr;
}

std::unique_ptr<KMessageReader> CreateMessageReader(const std::string& protocol) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.protocol.IsCalled(protocol) && family.protocol.createReader) return family.protocol.createReader();
    return nullptr;
}

std::string ProtocolNamesText(const char* lastSeparator) {
    std::vector<std::string> names;
    for (const KReceiverFamily& family : ReceiverFamilies()) names.emplace_back(family.protocol.name);
    std::sort(names.begin(), names.end());
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? lastSeparator : ", ";
        text += names[i];
    }
    return text;
}
