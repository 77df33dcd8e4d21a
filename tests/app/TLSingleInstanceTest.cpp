#include "TLSingleInstance.h"
#include "support/TLQtTestApplication.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

QString uniqueName() {
    return QStringLiteral("tilora-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

// Runs a claim on another thread (as a second process would) while this thread keeps the
// primary's event loop turning.
TLSingleInstance::Role claimFromAnotherThread(const QString& name) {
    std::atomic<bool> done = false;
    std::optional<TLSingleInstance::Role> role;
    std::thread second([&] {
        TLSingleInstance instance(name);
        role = instance.claim(5000);
        done = true;
    });
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    second.join();
    return role.value_or(TLSingleInstance::Role::Failed);
}

TEST(SingleInstance, SecondStartAsksTheFirstAndStandsBackUntilItHasGone) {
    const QString name = uniqueName();
    {
        TLSingleInstance first(name);
        QSignalSpy activations(&first, &TLSingleInstance::activationRequested);
        ASSERT_EQ(first.claim(), TLSingleInstance::Role::Primary);
        for (int start = 1; start <= 2; ++start) {
            EXPECT_EQ(claimFromAnotherThread(name), TLSingleInstance::Role::Secondary);
            EXPECT_EQ(activations.count(), start);
        }
    }
    TLSingleInstance next(name);
    EXPECT_EQ(next.claim(), TLSingleInstance::Role::Primary);
}

TEST(SingleInstance, IgnoresClientsThatAreNotTilora) {
    const QString name = uniqueName();
    TLSingleInstance first(name);
    QSignalSpy activations(&first, &TLSingleInstance::activationRequested);
    ASSERT_EQ(first.claim(), TLSingleInstance::Role::Primary);

    for (const QByteArray& junk : {QByteArray("quit\n"), QByteArray(4096, 'x'), QByteArray("activate")}) {
        QLocalSocket socket;
        socket.connectToServer(name);
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(junk);
        socket.flush();
        QDeadlineTimer deadline(300);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        socket.abort();
    }
    EXPECT_EQ(activations.count(), 0);
    // Still serving the real request afterwards.
    EXPECT_EQ(claimFromAnotherThread(name), TLSingleInstance::Role::Secondary);
    EXPECT_EQ(activations.count(), 1);
}

TEST(SingleInstance, NameIsPerUserAndDisplay) {
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":7.0");
    const QString seven = TLSingleInstance::defaultServerName();
    qputenv("DISPLAY", "host/unix:8");
    const QString eight = TLSingleInstance::defaultServerName();
    qputenv("DISPLAY", saved);

    EXPECT_NE(seven, eight);
    EXPECT_TRUE(seven.contains(QString::number(getuid())));
    EXPECT_FALSE(eight.contains(u'/')) << eight.toStdString(); // a socket name, not a path
}

} // namespace
