#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/KMemoryComm.h"
#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"
#include "receivers/KReceiverCatalogue.h"
#include "receivers/KReceiverFamily.h"
#include "receivers/KUbloxReceiver.h"

TEST(ReceiverCatalogue, ListsTheTypesInOrderAndEndsWithAnEmptyName) {
    const std::vector<std::string> expected = {
        "Ashtech Z",        "Ashtech AC12",     "Ashtech G12",    "Leica CRS1000",     "Leica GMX900",
        "Leica GPS1200",    "Leica System 500", "NavCom",         "Novatel/Sokkia",    "SiRFStar III",
        "Topcon",           "Trimble 4000 SSi", "Trimble 47/48/5700", "Trimble NetR5", "u-blox", "MediaTek/Quectel",
        "Septentrio"};
    const std::vector<int32_t> ids = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    size_t i = 0;
    for (; ReceiverCatalogue[i].displayName[0] != '\0'; ++i) {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(ReceiverCatalogue[i].displayName, expected[i]);
        EXPECT_EQ(ReceiverCatalogue[i].typeId, ids[i]);
    }
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(FindCatalogueRow(0), nullptr);
    EXPECT_STREQ(FindCatalogueRow(11)->displayName, "Topcon");
}

TEST(ReceiverCatalogue, CreatesTheFamilyOfEachLeicaTypeAndNothingOutsideTheTable) {
    EXPECT_EQ(CreateReceiver(0), nullptr);
    EXPECT_EQ(CreateReceiver(18), nullptr);
    EXPECT_NE(dynamic_cast<KUbloxReceiver*>(CreateReceiver(15).get()), nullptr);
    EXPECT_EQ(CreateReceiver(-3), nullptr);
    for (int32_t type : {4, 5}) {
        auto receiver = CreateReceiver(type);
        ASSERT_NE(receiver, nullptr) << type;
        EXPECT_NE(dynamic_cast<KLeicaCRS1000Receiver*>(receiver.get()), nullptr) << type;
        EXPECT_TRUE(receiver->RunsReaderThread());
    }
    for (int32_t type : {6, 7}) {
        auto receiver = CreateReceiver(type);
        ASSERT_NE(receiver, nullptr) << type;
        EXPECT_NE(dynamic_cast<KLeicaRS500Receiver*>(receiver.get()), nullptr) << type;
    }
}

TEST(ReceiverCatalogue, RegisteringAFamilyMakesItsTypeCreatable) {
    static bool built = false;
    RegisterFamily(9, []() -> std::unique_ptr<KReceiver> {
        built = true;
        return std::make_unique<KLeicaRS500Receiver>(false);
    });
    EXPECT_NE(CreateReceiver(9), nullptr);
    EXPECT_TRUE(built);
    RegisterFamily(9, nullptr);
    EXPECT_EQ(CreateReceiver(9), nullptr);
    // Later tests in this program create type 9 from the family list again.
    const KReceiverFamily* family = FamilyOfType(9);
    ASSERT_NE(family, nullptr);
    RegisterFamily(9, [family] { return family->createReceiver(9, true); });
    EXPECT_NE(CreateReceiver(9), nullptr);
}

TEST(KReceiver, ClientNameIsAQuestionMarkWhenNotAttached) {
    KMemoryComm link;
    link.Open(0);
    KLeicaRS500Receiver receiver(false);
    EXPECT_STREQ(receiver.ClientName(), "?");
    // Detach of a receiver never attached: its monitor does nothing and the name stays.
    EXPECT_TRUE(receiver.Detach());
    EXPECT_STREQ(receiver.ClientName(), "?");

    EXPECT_TRUE(receiver.Attach(&link, "Trevask"));
    EXPECT_STREQ(receiver.ClientName(), "Trevask");
    EXPECT_TRUE(receiver.Monitor()->IsStarted());
    EXPECT_STREQ(receiver.Monitor()->ClientName(), "Trevask");

    // A second Attach replaces link and name; the started monitor ignores it.
    KMemoryComm other;
    other.Open(0);
    EXPECT_TRUE(receiver.Attach(&other, "Other"));
    EXPECT_STREQ(receiver.ClientName(), "Other");
    EXPECT_EQ(receiver.Link(), &other);
    EXPECT_STREQ(receiver.Monitor()->ClientName(), "Trevask");

    EXPECT_TRUE(receiver.Detach());
    EXPECT_STREQ(receiver.ClientName(), "?");
    EXPECT_FALSE(receiver.Monitor()->IsStarted());
    EXPECT_EQ(receiver.Link(), &other);  // Detach keeps the link
}

TEST(KReceiver, AttachToAClosedLinkLeavesTheMonitorStoppedButSucceeds) {
    KMemoryComm link;  // never opened
    KLeicaCRS1000Receiver receiver(false);
    EXPECT_TRUE(receiver.Attach(&link, "Trevask"));
    EXPECT_FALSE(receiver.Monitor()->IsStarted());
    EXPECT_STREQ(receiver.ClientName(), "Trevask");
}
