#include "TLLoginItem.h"
#include "TLFakeLoginItemService.h"

#include <gtest/gtest.h>

namespace {

class TLLoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { TLLoginItem::setService(&service_); }
    void TearDown() override { TLLoginItem::setService(nullptr); }

    TLFakeLoginItemService service_;
};

void expectUnavailableError(const TLError& error) {
    EXPECT_EQ(error.domain, QStringLiteral("Tilora"));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.localizedDescription, QStringLiteral("Erst ab macOS 13 verfügbar."));
}

TEST_F(TLLoginItemTest, UnavailableRefusesEveryChangeWithItsError) {
    service_.available = false;
    service_.currentStatus = TLLoginItemStatus::Enabled;
    for (TLLoginItemService* installed :
         {static_cast<TLLoginItemService*>(&service_), static_cast<TLLoginItemService*>(nullptr)}) {
        TLLoginItem::setService(installed);
        EXPECT_FALSE(TLLoginItem::isAvailable());
        EXPECT_FALSE(TLLoginItem::isEnabled());
        for (bool enabled : {true, false}) {
            TLError error;
            EXPECT_FALSE(TLLoginItem::setEnabled(enabled, &error));
            expectUnavailableError(error);
            EXPECT_FALSE(TLLoginItem::setEnabled(enabled));
        }
    }
    EXPECT_EQ(service_.registerCalls, 0);
    EXPECT_EQ(service_.unregisterCalls, 0);
}

TEST_F(TLLoginItemTest, ChangesReachTheServiceAndItsAnswerComesBackUnchanged) {
    EXPECT_TRUE(TLLoginItem::setEnabled(true));
    EXPECT_TRUE(TLLoginItem::isEnabled());
    EXPECT_TRUE(TLLoginItem::setEnabled(false));
    EXPECT_FALSE(TLLoginItem::isEnabled());
    EXPECT_EQ(service_.registerCalls, 1);
    EXPECT_EQ(service_.unregisterCalls, 1);

    service_.failure = TLError{QStringLiteral("XDGAutostart"), 4, QStringLiteral("nicht schreibbar")};
    for (bool enabled : {true, false}) {
        TLError error;
        EXPECT_FALSE(TLLoginItem::setEnabled(enabled, &error));
        EXPECT_EQ(error.domain, service_.failure->domain);
        EXPECT_EQ(error.code, service_.failure->code);
        EXPECT_EQ(error.localizedDescription, service_.failure->localizedDescription);
        EXPECT_FALSE(TLLoginItem::setEnabled(enabled)) << "no out-parameter";
    }
}

} // namespace
