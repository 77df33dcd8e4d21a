#include "TLLoginItem.h"
#include "TLFakeLoginItemService.h"
#include "TLTest.h"

TEST(TLLoginItem, ChangesReachTheServiceAndItsFailuresComeBackUnchanged) {
    TLFakeLoginItemService service;
    TLLoginItem item(service);
    EXPECT_TRUE(item.setEnabled(true));
    EXPECT_TRUE(item.isEnabled());
    EXPECT_TRUE(item.setEnabled(false));
    EXPECT_FALSE(item.isEnabled());
    const TLError unavailable{"Tilora", 1, "Ohne Konfigurationsordner nicht verfügbar."};
    for (const TLError& failure : {TLError{"XDGAutostart", 4, "nicht schreibbar"}, unavailable}) {
        service.available = failure.code != 1; // unavailable: the item answers itself
        service.failure = service.available ? std::optional(failure) : std::nullopt;
        for (bool enabled : {true, false}) {
            TLError error;
            EXPECT_FALSE(item.setEnabled(enabled, &error));
            EXPECT_EQ(std::tuple(error.domain, error.code, error.localizedDescription),
                      std::tuple(failure.domain, failure.code, failure.localizedDescription));
            EXPECT_FALSE(item.setEnabled(enabled)) << "no out-parameter";
        }
    }
    EXPECT_EQ(service.registerCalls + service.unregisterCalls, 6) << "an unavailable service is not asked";
    service.currentStatus = TLLoginItemStatus::Enabled;
    EXPECT_FALSE(item.isEnabled());
}
