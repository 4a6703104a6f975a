#pragma once
#include <cstdint>
#include <functional>
#include <memory>

class KReceiver;

// One receiver type the user can choose.
struct ReceiverCatalogueRow {
    int32_t typeId;
    char displayName[40];
};

// The types in display order, ended by a row with an empty name.
extern const ReceiverCatalogueRow ReceiverCatalogue[18];

using KReceiverCreator = std::function<std::unique_ptr<KReceiver>()>;

// The creation entry of one type id. The families of the family list are entered before the
// first creation; an entry registered here replaces the list's (an empty one removes it).
void RegisterFamily(int32_t typeId, KReceiverCreator create);

// A new receiver of the family that serves `typeId`, or none when no family serves it.
std::unique_ptr<KReceiver> CreateReceiver(int32_t typeId);

// The catalogue row of a type id, or nullptr.
const ReceiverCatalogueRow* FindCatalogueRow(int32_t typeId);
