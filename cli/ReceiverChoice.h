#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct KCatalogueType;
struct KReceiverFamily;

// Finds a catalogue type from what a person typed: its id ("5"), its name in any case and
// spacing ("Maker X900" as "maker-x900"), or an unambiguous part of it ("x900").
// Returns 0 and explains in `error` when nothing or more than one type fits.
int32_t ChooseReceiver(const std::string& text, std::string& error);

// The rates a session can take a type to here: the type's own, those this system can set (the
// usual eight for a type outside the catalogue), in its detection order.
std::vector<int32_t> TypeRates(int32_t type);
bool TypeTakesRate(int32_t type, long long rate);
// "1200 2400 ... 115200", for usage messages.
std::string TypeRatesText(int32_t type);

// What tells `type` apart from the other types of its family, which the family's protocol does
// not: its command set, rates and waits, as far as they differ from another type's ("rates 4800
// 9600; waits 5.0 s for an answer"); empty when all the family's types are driven alike.
std::string TypeDifference(const KReceiverFamily& family, const KCatalogueType& type);

// The family whose protocol `text` names, in any case: the protocol's name or one of its aliases,
// or the family's own name. Null, with the reason in `error`, for none.
const KReceiverFamily* ChooseProtocol(const std::string& text, std::string& error);
