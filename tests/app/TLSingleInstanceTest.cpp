#include "TLSingleInstance.h"
#include "TLTest.h"

#include <QLocalSocket>
#include <QUuid>

#include <unistd.h>

namespace {

// A claim from another thread (as a second process would) while this one runs the primary's loop.
TLSingleInstance::Role claimFromAnotherThread(const QString& name) {
    std::atomic<bool> done = false;
    TLSingleInstance::Role role = TLSingleInstance::Role::Failed;
    std::thread second([&] {
        role = TLSingleInstance(name).claim(5000);
        done = true;
    });
    tlWaitFor([&] { return done.load(); });
    second.join();
    return role;
}

TEST(TLSingleInstance, ASecondStartAsksTheFirstStrangersAreIgnoredAndTheNameIsPerUserAndDisplay) {
    const QString name = "tilora-test-" + QUuid::createUuid().toString(QUuid::Id128);
    {
        TLSingleInstance first(name);
        QSignalSpy activations(&first, &TLSingleInstance::activationRequested);
        ASSERT_EQ(first.claim(), TLSingleInstance::Role::Primary);
        QLocalSocket stranger; // says nothing a second start would say
        stranger.connectToServer(name);
        ASSERT_TRUE(stranger.waitForConnected(2000) && stranger.write("quit\n") > 0 && stranger.flush());
        tlWaitFor([] { return false; }, 300);
        EXPECT_EQ(activations.count(), 0);
        for (int start = 1; start <= 2; ++start) {
            EXPECT_EQ(claimFromAnotherThread(name), TLSingleInstance::Role::Secondary);
            EXPECT_EQ(activations.count(), start);
        }
    }
    EXPECT_EQ(TLSingleInstance(name).claim(), TLSingleInstance::Role::Primary) << "once the first has gone";

    TLScopedEnv display("DISPLAY", QByteArray(":7.0"));
    const QString seven = TLSingleInstance::defaultServerName();
    qputenv("DISPLAY", "host/unix:8");
    EXPECT_NE(seven, TLSingleInstance::defaultServerName());
    EXPECT_TRUE(seven.contains(QString::number(getuid())));
    EXPECT_FALSE(TLSingleInstance::defaultServerName().contains(u'/')) << "a socket name, not a path";
}

} // namespace
