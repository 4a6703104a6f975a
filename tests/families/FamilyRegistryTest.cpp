// The registry's promises: every type served once, every framer found by its names, and a row
// entered later reaching the catalogue, the framers and the session's rates.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "families/KReceiverFamily.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KReceiver.h"

namespace {

TEST(FamilyRegistry, ServesEveryTypeOnceInIdOrderWithItsOwnNameAndRates) {
    std::set<int32_t> ids;
    std::set<std::string> names;
    int32_t previous = 0;
    for (const KCatalogueType* type : CatalogueTypes()) {
        EXPECT_GT(type->typeId, previous) << type->displayName;
        previous = type->typeId;
        EXPECT_TRUE(ids.insert(type->typeId).second) << type->typeId;
        EXPECT_TRUE(names.insert(type->displayName).second) << type->displayName;
        EXPECT_EQ(FindCatalogueType(type->typeId), type);
        ASSERT_NE(FamilyOfType(type->typeId), nullptr);
        EXPECT_EQ(FamilyOfType(type->typeId)->Type(type->typeId), type);
        EXPECT_FALSE(type->rates.empty()) << type->displayName;
        for (int32_t baud : type->rates) EXPECT_TRUE(type->RunsAt(baud)) << baud;
        EXPECT_FALSE(type->RunsAt(0));
        // A receiver of every type, with the reader thread a session needs.
        auto receiver = CreateReceiver(type->typeId);
        ASSERT_NE(receiver, nullptr) << type->displayName;
        EXPECT_TRUE(receiver->RunsReaderThread());
    }
    EXPECT_EQ(FindCatalogueType(0), nullptr);
    EXPECT_EQ(FindCatalogueType(previous + 1), nullptr);
    EXPECT_EQ(CreateReceiver(previous + 1), nullptr);
    EXPECT_EQ(CreateReceiver(-3), nullptr);
}

TEST(FamilyRegistry, FindsEveryFramerByItsNameAndAliasesOnly) {
    std::set<std::string> names;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        std::vector<const char*> all(family.protocol.aliases.begin(), family.protocol.aliases.end());
        all.push_back(family.protocol.name);
        for (const char* name : all) {
            EXPECT_TRUE(names.insert(name).second) << name << " names two protocols";
            EXPECT_NE(CreateStreamMonitor(name), nullptr) << name;
            EXPECT_TRUE(family.protocol.IsCalled(name));
        }
    }
    EXPECT_EQ(CreateStreamMonitor(""), nullptr);
    EXPECT_EQ(CreateStreamMonitor(std::string(ReceiverFamilies().front().protocol.name) + "x"), nullptr);
}

TEST(FamilyRegistry, ATypeEnteredLaterIsInTheCatalogueTheFramersAndTheRatesItRunsAt) {
    const KReceiverFamily original = ReceiverFamilies().back();
    static constexpr int32_t kFast[] = {460800, 921600};
    static int32_t made = 0;
    KReceiverFamily row = original;
    static constexpr const char* kAliases[] = {"trevask"};
    row.protocol.aliases = kAliases;
    row.types.push_back({900, "Trevask X1", {.detectPingMs = 1500}, kFast});
    row.createReceiver = [](int32_t typeId, bool) -> std::unique_ptr<KReceiver> {
        made = typeId;
        return nullptr;
    };
    RegisterFamily(row);
    // Replaced in its place, not added.
    EXPECT_EQ(ReceiverFamilies().back().types.size(), original.types.size() + 1);
    const KCatalogueType* type = FindCatalogueType(900);
    ASSERT_NE(type, nullptr);
    EXPECT_STREQ(type->displayName, "Trevask X1");
    EXPECT_EQ(CatalogueTypes().back(), type);
    EXPECT_TRUE(type->RunsAt(921600));
    EXPECT_FALSE(type->RunsAt(9600));
    EXPECT_EQ(type->timings.DetectPingMs(921600), 1500);
    CreateReceiver(900);
    EXPECT_EQ(made, 900);
    EXPECT_NE(CreateStreamMonitor("trevask"), nullptr);

    RegisterFamily(original);
    EXPECT_EQ(FindCatalogueType(900), nullptr);
    EXPECT_EQ(CreateStreamMonitor("trevask"), nullptr);
}

TEST(FamilyRegistry, SlowRatesWaitTheirOwnTimeUpToTheirLimit) {
    const KTypeTimings timings = {.detectPingMs = 1000, .slowUpToBaud = 4800, .slowPingMs = 3000};
    EXPECT_EQ(timings.DetectPingMs(1200), 3000);
    EXPECT_EQ(timings.DetectPingMs(4800), 3000);
    EXPECT_EQ(timings.DetectPingMs(9600), 1000);
    EXPECT_EQ(KTypeTimings{}.DetectPingMs(1200), 1000);
}

TEST(FamilyRegistry, NamesTheProtocolsInOrderForHelpAndMessages) {
    const std::string list = ProtocolNamesText(" or ");
    std::string previous;
    size_t count = 0;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find_first_of(", ", at);
        if (end == std::string::npos) end = list.size();
        const std::string word = list.substr(at, end - at);
        at = end + 1;
        if (word.empty() || word == "or") continue;
        EXPECT_LT(previous, word);
        previous = word;
        ++count;
    }
    EXPECT_EQ(count, ReceiverFamilies().size());
    EXPECT_EQ(list.find(" or "), list.rfind(" or "));
    EXPECT_EQ(list.find(", ", list.find(" or ")), std::string::npos);
}

} // namespace
