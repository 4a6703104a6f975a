#include "receivers/KReceiverCatalogue.h"

#include <array>
#include <mutex>
#include <new>

#include "receivers/KReceiver.h"
#include "receivers/KReceiverFamily.h"

const ReceiverCatalogueRow ReceiverCatalogue[18] = {
    {1, "Ashtech Z"},
    {2, "Ashtech AC12"},
    {3, "Ashtech G12"},
    {4, "Leica CRS1000"},
    {5, "Leica GMX900"},
    {6, "Leica GPS1200"},
    {7, "Leica System 500"},
    {8, "NavCom"},
    {9, "Novatel/Sokkia"},
    {10, "SiRFStar III"},
    {11, "Topcon"},
    {12, "Trimble 4000 SSi"},
    {13, "Trimble 47/48/5700"},
    {14, "Trimble NetR5"},
    {15, "u-blox"},
    {16, "MediaTek/Quectel"},
    {17, "Septentrio"},
    {0, ""},
};

namespace {

constexpr int32_t kMaxTypeId = 17;

std::mutex& EntriesLock() {
    static std::mutex lock;
    return lock;
}

std::array<KReceiverCreator, kMaxTypeId + 1>& Entries() {
    static std::array<KReceiverCreator, kMaxTypeId + 1> entries{};
    return entries;
}

// The families of the family list enter their types once, before the first creation or
// registration (so that a registration made afterwards replaces the list's entry).
void RegisterBuiltInFamilies() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const KReceiverFamily& family : ReceiverFamilies())
            for (int32_t typeId : family.typeIds) {
                if (typeId < 1 || typeId > kMaxTypeId) continue;
                auto* create = family.createReceiver;
                Entries()[static_cast<size_t>(typeId)] = [create, typeId] { return create(typeId, true); };
            }
    });
}

} // namespace

void RegisterFamily(int32_t typeId, KReceiverCreator create) {
    RegisterBuiltInFamilies();
    if (typeId < 1 || typeId > kMaxTypeId) return;
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries()[static_cast<size_t>(typeId)] = std::move(create);
}

std::unique_ptr<KReceiver> CreateReceiver(int32_t typeId) {
    RegisterBuiltInFamilies();
    if (typeId < 1 || typeId > kMaxTypeId) return nullptr;
    KReceiverCreator create;
    {
        std::lock_guard<std::mutex> guard(EntriesLock());
        create = Entries()[static_cast<size_t>(typeId)];
    }
    if (!create) return nullptr;
    try {
        return create();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const ReceiverCatalogueRow* FindCatalogueRow(int32_t typeId) {
    for (const ReceiverCatalogueRow& row : ReceiverCatalogue) {
        if (row.displayName[0] == '\0') break;
        if (row.typeId == typeId) return &row;
    }
    return nullptr;
}
