#include <gtest/gtest.h>

#include "comm/KMemoryComm.h"
#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"

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
