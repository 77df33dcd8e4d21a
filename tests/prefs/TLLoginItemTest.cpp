#include "TLLoginItem.h"
#include "TLFakeLoginItemService.h"

#include <gtest/gtest.h>

namespace {

TEST(TLLoginItemTest, UnavailableRefusesEveryChangeWithItsError) {
    TLFakeLoginItemService service;
    service.available = false;
    service.currentStatus = TLLoginItemStatus::Enabled;
    TLLoginItem item(service);
    EXPECT_FALSE(item.isAvailable());
    EXPECT_FALSE(item.isEnabled());
    for (bool enabled : {true, false}) {
        TLError error;
        EXPECT_FALSE(item.setEnabled(enabled, &error));
        EXPECT_EQ(error.domain, QStringLiteral("Tilora"));
        EXPECT_EQ(error.code, 1);
        EXPECT_EQ(error.localizedDescription, QStringLiteral("Erst ab macOS 13 verfügbar."));
        EXPECT_FALSE(item.setEnabled(enabled));
    }
    EXPECT_EQ(service.registerCalls + service.unregisterCalls, 0);
}

TEST(TLLoginItemTest, ChangesReachTheServiceAndItsAnswerComesBackUnchanged) {
    TLFakeLoginItemService service;
    TLLoginItem item(service);
    EXPECT_TRUE(item.setEnabled(true));
    EXPECT_TRUE(item.isEnabled());
    EXPECT_TRUE(item.setEnabled(false));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(service.registerCalls, 1);
    EXPECT_EQ(service.unregisterCalls, 1);

    service.failure = TLError{QStringLiteral("XDGAutostart"), 4, QStringLiteral("nicht schreibbar")};
    for (bool enabled : {true, false}) {
        TLError error;
        EXPECT_FALSE(item.setEnabled(enabled, &error));
        EXPECT_EQ(error.domain, service.failure->domain);
        EXPECT_EQ(error.code, service.failure->code);
        EXPECT_EQ(error.localizedDescription, service.failure->localizedDescription);
        EXPECT_FALSE(item.setEnabled(enabled)) << "no out-parameter";
    }
}

} // namespace
