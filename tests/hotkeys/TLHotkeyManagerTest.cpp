#include "TLHotkeyManager.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLUserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
const QString kShortcuts = QString::fromUtf8(TLUserDefaults::kShortcuts);
using Stored = std::pair<qint64, qint64>; // keyCode, modifiers as saved
const Stored kStoredUnbound{-1, 0};

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_hotkeys_manager";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

const TLLayout& layout(const char* identifier) {
    const TLLayout* found = TLLayout::layoutWithIdentifier(identifier);
    EXPECT_NE(found, nullptr) << identifier;
    return found != nullptr ? *found : TLLayout::allLayouts().front();
}

// A stored entry; an invalid value leaves that key out.
QVariantMap entry(const QVariant& keyCode, const QVariant& modifiers) {
    QVariantMap map{{"keyCode", keyCode}, {"modifiers", modifiers}};
    map.removeIf([](const auto& item) { return !item.value().isValid(); });
    return map;
}

class TLHotkeyManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<TLUserDefaults>(path(), log);
    }

    QString path() const { return dir.filePath("Tilora.plist"); }

    std::unique_ptr<TLHotkeyManager> makeManager() {
        return std::make_unique<TLHotkeyManager>(*defaults, service, keyboard);
    }
    // The test's manager, made on first use so a test can prepare the store first.
    TLHotkeyManager& manager() {
        if (!manager_) {
            manager_ = makeManager();
        }
        return *manager_;
    }

    // The table as a fresh store on the same file reads it, like the next launch.
    std::optional<QVariantMap> storedTable() const {
        return TLUserDefaults(path(), log).dictionaryForKey(kShortcuts);
    }

    Stored stored(const char* identifier) const {
        const QVariantMap map = storedTable().value_or(QVariantMap()).value(identifier).toMap();
        return {map.value("keyCode", -99).toLongLong(), map.value("modifiers", -99).toLongLong()};
    }

    QTemporaryDir dir;
    TLLog log{nullptr};
    TLFakeKeyboardLayout keyboard;
    TLFakeHotKeyService service;
    std::unique_ptr<TLUserDefaults> defaults;
    std::unique_ptr<TLHotkeyManager> manager_;
};

TEST_F(TLHotkeyManagerTest, NothingStoredGivesTheDefaultsRegisteredWithTheirCatalogueIndex) {
    const auto& all = TLLayout::allLayouts();
    manager();
    EXPECT_EQ(service.batchCount, 0) << "construction registers nothing";
    EXPECT_TRUE(service.hasHandler());

    EXPECT_TRUE(manager().registerAll().isEmpty());
    EXPECT_EQ(service.batchCount, 1) << "all combinations in one batch";
    ASSERT_EQ(service.registered().size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto request = service.registrationFor(static_cast<std::uint32_t>(all[i].defaultKeyCode()),
                                                     all[i].defaultModifiers());
        ASSERT_TRUE(request) << all[i].identifier();
        EXPECT_EQ(request->hotKeyID.signature, 0x544C5241u); // 'TLRA'
        EXPECT_EQ(request->hotKeyID.id, i);
    }
    EXPECT_FALSE(defaults->objectForKey(kShortcuts)) << "nothing is written back";

    // Every call starts from scratch: the old registrations are released first.
    EXPECT_TRUE(manager().registerAll().isEmpty());
    EXPECT_EQ(service.unregisterCount, static_cast<int>(all.size()));
    EXPECT_EQ(service.registered().size(), all.size());
}

TEST_F(TLHotkeyManagerTest, NewAssignmentTakesTheCombinationAndSavesEveryLayout) {
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);
    const TLShortcut ctrlOpt2 = TLShortcut::shortcutWithKeyCode(19, kCtrlOpt); // third.center's default

    manager().setShortcut(ctrlOpt2, layout("third.left"));

    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(manager().shortcutForLayout(layout("third.left")).isEqualToShortcut(&ctrlOpt2));
    EXPECT_FALSE(manager().shortcutForLayout(layout("third.center")).isBound());
    EXPECT_EQ(stored("third.left"), Stored(19, 6144));
    EXPECT_EQ(stored("third.center"), kStoredUnbound);
    const auto table = storedTable();
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), static_cast<qsizetype>(TLLayout::allLayouts().size()));
    for (const TLLayout& l : TLLayout::allLayouts()) {
        const QVariantMap map = table->value(QString::fromStdString(l.identifier())).toMap();
        EXPECT_EQ(map.keys(), (QStringList{"keyCode", "modifiers"})) << l.identifier();
        EXPECT_EQ(map.value("keyCode").metaType().id(), QMetaType::LongLong) << l.identifier();
        EXPECT_EQ(map.value("modifiers").metaType().id(), QMetaType::LongLong) << l.identifier();
    }
    EXPECT_EQ(service.registered().size(), 29u);
    const auto request = service.registrationFor(19, kCtrlOpt);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->hotKeyID.id, 0u);

    // The same combination again changes nothing else, but still saves, registers and signals.
    const int batches = service.batchCount;
    ASSERT_TRUE(QFile::remove(path()));
    manager().setShortcut(ctrlOpt2, layout("third.left"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(service.batchCount, batches + 1);
    EXPECT_EQ(service.registered().size(), 29u);
    EXPECT_EQ(stored("third.left"), Stored(19, 6144));
}

TEST_F(TLHotkeyManagerTest, RemovingAShortcutUnbindsThatLayoutOnly) {
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);

    manager().setShortcut(std::nullopt, layout("third.left"));
    manager().setShortcut(TLShortcut::unbound(), layout("third.center"));
    // An unbound value equals nothing, so a layout that is already unbound keeps nothing.
    manager().setShortcut(TLShortcut::shortcutWithKeyCode(-7, kCtrlOpt), layout("third.right"));

    EXPECT_EQ(changed.count(), 3);
    EXPECT_TRUE(manager().shortcutForLayout(layout("ninth.l.top")).isBound());
    EXPECT_EQ(stored("third.left"), kStoredUnbound);
    EXPECT_EQ(stored("third.center"), kStoredUnbound);
    EXPECT_EQ(stored("third.right").first, -7);
    EXPECT_EQ(service.registered().size(), 27u);
}

TEST_F(TLHotkeyManagerTest, ResetRemovesTheStoredTableAndSignalsOnce) {
    manager().setShortcut(TLShortcut::shortcutWithKeyCode(19, kCtrlOpt), layout("third.left"));
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);

    manager().resetToDefaults();

    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(TLUserDefaults(path(), log).objectForKey(kShortcuts));
    for (const TLLayout& l : TLLayout::allLayouts()) {
        EXPECT_EQ(manager().shortcutForLayout(l).keyCode(), l.defaultKeyCode()) << l.identifier();
    }
    EXPECT_EQ(service.registered().size(), 30u);
}

TEST_F(TLHotkeyManagerTest, LoadReadsEveryStoredEntryForm) {
    struct Row {
        const char* what;
        QVariant entry;
        std::int64_t keyCode; // expected
        std::uint32_t modifiers;
    };
    const std::vector<Row> rows = {
        {"removed by the user", entry(qint64{-1}, qint64{0}), -1, 0},
        {"recorded", entry(qint64{0}, qint64{TLCmdKey}), 0, TLCmdKey},
        {"no keyCode: default", entry(QVariant(), qint64{TLCmdKey}), 18, kCtrlOpt},
        {"no modifiers: 0", entry(qint64{12}, QVariant()), 12, 0},
        {"unknown modifier bits kept", entry(qint64{12}, qint64{0x1800 | 0x400 | 0x10000}), 12, 0x11C00},
        {"modifiers keep their low 32 bits", entry(qint64{12}, qint64{0x100001800}), 12, 0x1800},
        {"whole real number", entry(12.0, 4096.0), 12, 0x1000},
        {"keyCode as text: default", entry(QString("12"), qint64{0}), 18, kCtrlOpt},
        {"keyCode as boolean: default", entry(true, qint64{0}), 18, kCtrlOpt},
        {"keyCode fractional: default", entry(12.5, qint64{0}), 18, kCtrlOpt},
        {"keyCode beyond 64 bits: default", entry(1e30, qint64{0}), 18, kCtrlOpt},
        {"modifiers as text: 0", entry(qint64{12}, QString("6144")), 12, 0},
        {"entry not a dictionary: default", QVariant(qint64{12}), 18, kCtrlOpt},
    };
    for (const Row& row : rows) {
        defaults->setObject(QVariantMap{{"third.left", row.entry}}, kShortcuts);
        auto manager = makeManager();
        const TLShortcut s = manager->shortcutForLayout(layout("third.left"));
        EXPECT_EQ(s.keyCode(), row.keyCode) << row.what;
        EXPECT_EQ(s.modifiers(), row.modifiers) << row.what;
        // The other layouts have no entry: their defaults.
        EXPECT_EQ(manager->shortcutForLayout(layout("third.center")).keyCode(), 19) << row.what;
    }
    // A stored value that is no dictionary at all: every layout has its default.
    defaults->setObject(QString("garbage"), kShortcuts);
    EXPECT_EQ(makeManager()->shortcutForLayout(layout("third.left")).keyCode(), 18);
}

TEST_F(TLHotkeyManagerTest, StoredUnboundSurvivesRestartAndUnknownIdentifiersVanish) {
    makeManager()->setShortcut(std::nullopt, layout("half.left"));
    auto table = storedTable();
    ASSERT_TRUE(table);
    table->insert("layout.gone", entry(qint64{5}, qint64{0}));
    defaults->setObject(*table, kShortcuts);

    TLUserDefaults reopened(path(), log);
    TLHotkeyManager manager(reopened, service, keyboard);
    EXPECT_FALSE(manager.shortcutForLayout(layout("half.left")).isBound());
    EXPECT_EQ(manager.shortcutForLayout(layout("half.right")).keyCode(), 124);
    ASSERT_TRUE(reopened.dictionaryForKey(kShortcuts)->contains("layout.gone")) << "load writes nothing";

    manager.setShortcut(TLShortcut::shortcutWithKeyCode(4, kCtrlOpt), layout("half.right"));
    EXPECT_FALSE(storedTable()->contains("layout.gone"));
    EXPECT_EQ(stored("half.left"), kStoredUnbound);
}

TEST_F(TLHotkeyManagerTest, LoadedDuplicatesAreReportedByTheRegistration) {
    // A stored combination equal to another layout's default: no conflict rule at load.
    defaults->setObject(QVariantMap{{"third.right", entry(qint64{19}, qint64{kCtrlOpt})}}, kShortcuts);
    EXPECT_EQ(manager().registerAll(), QStringList{"Rechtes Drittel (⌃⌥2)"});
    EXPECT_EQ(manager().shortcutForLayout(layout("third.right")).keyCode(), 19) << "a refused shortcut stays";
}

TEST_F(TLHotkeyManagerTest, KeyCodesBeyondWhatAHotKeyCarriesAreRefusedNotCutDown) {
    // Cut to 32 bits this would be ⌃⌥← and take it from "Linke Hälfte".
    defaults->setObject(QVariantMap{{"third.left", entry(qint64{0x10000007B}, qint64{kCtrlOpt})}},
                        kShortcuts);
    EXPECT_EQ(manager().registerAll(), QStringList{"Linkes Drittel (⌃⌥#4294967419)"});
}

TEST_F(TLHotkeyManagerTest, RefusedCombinationsAreReportedInCatalogueOrder) {
    service.taken = {
        {123, kCtrlOpt}, {20, kCtrlOpt}, {18, kCtrlOpt}, {124, TLControlKey | TLOptionKey | TLShiftKey}};
    const QStringList expected = {"Linkes Drittel (⌃⌥1)", "Rechtes Drittel (⌃⌥3)", "Linke Hälfte (⌃⌥←)",
                                  "Auf nächsten Bildschirm (⌃⌥⇧→)"};
    EXPECT_EQ(manager().registerAll(), expected);
    EXPECT_EQ(service.registered().size(), 26u);
    EXPECT_EQ(manager().shortcutForLayout(layout("third.left")).keyCode(), 18);

    // The layout's current label goes into the text.
    keyboard.switchTo(TLFakeKeyboardLayout::Arrangement::German);
    service.taken = {{6, kCtrlOpt}};
    EXPECT_EQ(manager().registerAll(), QStringList{"Links · unten (⌃⌥Y)"});
}

TEST_F(TLHotkeyManagerTest, SuspensionReleasesEverythingAndRegistersNothing) {
    manager().registerAll();
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);

    manager().setSuspended(true);
    EXPECT_TRUE(service.registered().empty());
    const int batches = service.batchCount;
    const int unregistered = service.unregisterCount;
    service.taken = {{18, kCtrlOpt}};
    EXPECT_TRUE(manager().registerAll().isEmpty()) << "no failure texts while suspended";
    manager().setSuspended(true);
    EXPECT_EQ(service.batchCount, batches);
    EXPECT_EQ(service.unregisterCount, unregistered);

    manager().setSuspended(false);
    manager().setSuspended(false);
    EXPECT_FALSE(manager().suspended());
    EXPECT_EQ(service.batchCount, batches + 1) << "resuming twice registers once";
    EXPECT_EQ(service.registered().size(), 29u);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(TLHotkeyManagerTest, LayoutsOutsideTheCatalogueHaveNoShortcut) {
    const TLLayout stranger("not.in.catalogue", "G", "N", TLLayoutKindFrac, {0, 0, 1, 1}, 5, kCtrlOpt);
    EXPECT_FALSE(manager().shortcutForLayout(stranger).isBound());
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);
    manager().setShortcut(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt), stranger);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(manager().shortcutForLayout(layout("third.left")).isBound());
    EXPECT_FALSE(storedTable());
}

TEST_F(TLHotkeyManagerTest, HotKeysTheSystemTakesBackAreReportedLikeRefusals) {
    manager().registerAll();
    QSignalSpy lost(&manager(), &TLHotkeyManager::hotkeysLost);
    auto refOf = [&](std::uint32_t keyCode, std::uint32_t modifiers) {
        for (const auto& [ref, request] : service.registered()) {
            if (request.keyCode == keyCode && request.modifiers == modifiers) {
                return ref;
            }
        }
        return TLHotKeyRef{0};
    };
    // Named out of catalogue order: ⌃⌥← (left half), ⌃⌥1 (left third).
    service.lose({refOf(123, kCtrlOpt), refOf(18, kCtrlOpt)});
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(lost[0][0].toStringList(), (QStringList{"Linkes Drittel (⌃⌥1)", "Linke Hälfte (⌃⌥←)"}));
    // Lost is unregistered: the next registration does not release them again.
    const int unregistered = service.unregisterCount;
    manager().unregisterAll();
    EXPECT_EQ(service.unregisterCount, unregistered + 28);
}

class TLHotKeyPressedTest : public TLHotkeyManagerTest {
protected:
    void SetUp() override {
        TLHotkeyManagerTest::SetUp();
        manager().setHandler([this](const TLLayout& l) {
            received.push_back(l.identifier());
            EXPECT_EQ(QThread::currentThread(), app().thread());
            EXPECT_FALSE(insideCallback);
        });
        manager().registerAll();
    }

    // A press of a registered combination; nothing when none is registered.
    std::optional<TLOSStatus> press(std::uint32_t keyCode, std::uint32_t modifiers = kCtrlOpt) {
        insideCallback = true;
        const auto status = service.press(keyCode, modifiers);
        insideCallback = false;
        return status;
    }

    std::vector<std::string> received;
    bool insideCallback = false;
};

TEST_F(TLHotKeyPressedTest, ForeignAndOutOfRangeEvents) {
    struct Row {
        const char* what;
        std::optional<TLHotKeyID> id;
        TLOSStatus status;
    };
    const Row rows[] = {
        {"foreign signature", TLHotKeyID{0x41424344, 0}, TLEventNotHandledErr},
        {"signature byte order", TLHotKeyID{0x41524C54, 0}, TLEventNotHandledErr},
        {"no hot-key identity", std::nullopt, TLEventNotHandledErr},
        {"id equal to catalogue size", TLHotKeyID{TLHotKeySignature, 30}, TLNoErr},
        {"id far beyond", TLHotKeyID{TLHotKeySignature, 0xFFFFFFFF}, TLNoErr},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(service.deliver(TLHotKeyEvent{row.id}), row.status) << row.what;
    }
    EXPECT_EQ(TLHotKeyPressed(nullptr, nullptr, &manager()), TLEventNotHandledErr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.empty());

    EXPECT_EQ(service.deliver(TLHotKeyEvent{TLHotKeyID{TLHotKeySignature, 29}}), TLNoErr);
    QCoreApplication::processEvents();
    EXPECT_EQ(received, std::vector<std::string>{"screen.prev"});
}

TEST_F(TLHotKeyPressedTest, SuspensionCountsWhenTheCallbackRuns) {
    // Pressed before the suspension: still delivered.
    EXPECT_EQ(press(18), TLNoErr);
    manager().setSuspended(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 1u);

    // Arriving while suspended: accepted, but nothing happens.
    EXPECT_FALSE(press(18)) << "no hot key is registered while suspended";
    EXPECT_EQ(service.deliver(TLHotKeyEvent{TLHotKeyID{TLHotKeySignature, 0}}), TLNoErr);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 1u);

    manager().setSuspended(false);
    EXPECT_EQ(press(18), TLNoErr);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 2u);
}

TEST_F(TLHotKeyPressedTest, HandlerIsReadInALaterTurnAndNotAfterTheManagerIsGone) {
    EXPECT_EQ(press(18), TLNoErr);
    EXPECT_TRUE(received.empty()) << "never inside the callback";
    std::vector<std::string> later;
    manager().setHandler([&later](const TLLayout& l) { later.push_back(l.identifier()); });
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(later, std::vector<std::string>{"third.left"});

    EXPECT_EQ(press(19), TLNoErr);
    manager().setHandler(nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(press(19), TLNoErr) << "without a handler a press is accepted and dropped";
    manager().setHandler([&later](const TLLayout& l) { later.push_back(l.identifier()); });
    EXPECT_EQ(press(20), TLNoErr);
    manager_.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(later.size(), 1u);
    EXPECT_TRUE(service.registered().empty());
    EXPECT_FALSE(service.hasHandler());
}

} // namespace
