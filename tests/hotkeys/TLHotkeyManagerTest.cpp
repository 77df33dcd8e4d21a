#include "TLHotkeyManager.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLTest.h"
#include "TLUserDefaults.h"

namespace {

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
using Stored = std::pair<qint64, qint64>; // keyCode, modifiers as saved

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

class TLHotkeyManagerTest : public ::testing::Test {
protected:
    // The test's manager, made on first use so that a test can prepare the store first.
    TLHotkeyManager& manager() {
        if (!manager_) {
            manager_ = std::make_unique<TLHotkeyManager>(defaults, service, keyboard);
        }
        return *manager_;
    }
    // The stored table as the next launch reads it.
    QVariantMap table() const {
        return TLUserDefaults(dir.filePath("Tilora.plist"), log)
            .dictionaryForKey(TLUserDefaults::kShortcuts)
            .value_or(QVariantMap());
    }
    Stored stored(const char* identifier) const {
        const QVariantMap entry = table().value(identifier).toMap();
        return {entry.value("keyCode", -99).toLongLong(), entry.value("modifiers", -99).toLongLong()};
    }
    std::int64_t keyCodeOf(const char* identifier) {
        return manager().shortcutForLayout(layout(identifier)).keyCode();
    }

    QTemporaryDir dir;
    TLLog log{nullptr};
    TLFakeKeyboardLayout keyboard;
    TLFakeHotKeyService service;
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), log};
    std::unique_ptr<TLHotkeyManager> manager_;
};

TEST_F(TLHotkeyManagerTest, DefaultsRegisterInOneBatchWithTheirCatalogueIndex) {
    const auto& all = TLLayout::allLayouts();
    manager();
    EXPECT_EQ(service.batchCount, 0) << "construction registers nothing";
    EXPECT_TRUE(service.hasHandler());
    for (int call = 1; call <= 2; ++call) { // every call starts from scratch: the old ones are released first
        EXPECT_TRUE(manager().registerAll().isEmpty());
        EXPECT_EQ(std::pair(service.batchCount, service.unregisterCount), std::pair(call, (call - 1) * 30));
        ASSERT_EQ(service.registered.size(), all.size());
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto r =
            service.registrationFor(std::uint32_t(all[i].defaultKeyCode()), all[i].defaultModifiers());
        EXPECT_EQ(r ? r->hotKeyID.id : 99u, i) << all[i].identifier();
    }
    EXPECT_TRUE(table().isEmpty()) << "nothing is written back";
}

TEST_F(TLHotkeyManagerTest, AssignmentTakesTheCombinationFromItsHolderAndSavesEveryLayout) {
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);
    const TLShortcut ctrlOpt2 = TLShortcut::shortcutWithKeyCode(19, kCtrlOpt); // third.center's default
    for (int round = 1; round <= 2; ++round) { // the same again still saves, registers and signals
        QFile::remove(dir.filePath("Tilora.plist"));
        manager().setShortcut(ctrlOpt2, layout("third.left"));
        EXPECT_EQ(changed.count(), round);
        EXPECT_EQ(service.batchCount, round);
        EXPECT_EQ(stored("third.left"), Stored(19, 6144));
        EXPECT_EQ(stored("third.center"), Stored(-1, 0));
        EXPECT_EQ(service.registered.size(), 29u);
        EXPECT_EQ(service.registrationFor(19, kCtrlOpt)->hotKeyID.id, 0u);
    }
    EXPECT_FALSE(manager().shortcutForLayout(layout("third.center")).isBound());
    ASSERT_EQ(table().size(), qsizetype(TLLayout::allLayouts().size()));
    for (const QVariant& entry : table()) {
        EXPECT_EQ(entry.toMap().keys(), (QStringList{"keyCode", "modifiers"}));
        EXPECT_EQ(entry.toMap().value("modifiers").typeId(), QMetaType::LongLong);
    }
    // Removing unbinds that layout only; an unbound value equals nothing, so it takes nothing.
    manager().setShortcut(std::nullopt, layout("half.left"));
    manager().setShortcut(TLShortcut::shortcutWithKeyCode(-7, kCtrlOpt), layout("third.right"));
    EXPECT_EQ(stored("half.left"), Stored(-1, 0));
    EXPECT_EQ(stored("third.right").first, -7);
    EXPECT_EQ(service.registered.size(), 27u);
    // Reset removes the stored table and signals once.
    changed.clear();
    manager().resetToDefaults();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(table().isEmpty());
    EXPECT_EQ(keyCodeOf("third.left"), 18);
    EXPECT_EQ(service.registered.size(), 30u);
}

TEST_F(TLHotkeyManagerTest, LoadReadsEveryStoredEntryForm) {
    const auto entry = [](const QVariant& keyCode, const QVariant& modifiers) {
        QVariantMap map{{"keyCode", keyCode}, {"modifiers", modifiers}};
        map.removeIf([](const auto& item) { return !item.value().isValid(); });
        return QVariant(map);
    };
    const std::tuple<const char*, QVariant, std::int64_t, std::uint32_t> rows[] = {
        {"removed by the user", entry(qint64{-1}, qint64{0}), -1, 0},
        {"recorded", entry(qint64{0}, qint64{TLCmdKey}), 0, TLCmdKey},
        {"no keyCode: default", entry(QVariant(), qint64{TLCmdKey}), 18, kCtrlOpt},
        {"no modifiers: 0", entry(qint64{12}, QVariant()), 12, 0},
        {"unknown modifier bits kept", entry(qint64{12}, qint64{0x11C00}), 12, 0x11C00},
        {"modifiers keep their low 32 bits", entry(qint64{12}, qint64{0x100001800}), 12, 0x1800},
        {"whole real number", entry(12.0, 4096.0), 12, 0x1000},
        {"keyCode as text: default", entry(QString("12"), qint64{0}), 18, kCtrlOpt},
        {"keyCode as boolean: default", entry(true, qint64{0}), 18, kCtrlOpt},
        {"keyCode fractional: default", entry(12.5, qint64{0}), 18, kCtrlOpt},
        {"keyCode beyond 64 bits: default", entry(1e30, qint64{0}), 18, kCtrlOpt},
        {"modifiers as text: 0", entry(qint64{12}, QString("6144")), 12, 0},
        {"entry not a dictionary: default", QVariant(qint64{12}), 18, kCtrlOpt},
    };
    for (const auto& [what, stored, keyCode, modifiers] : rows) {
        defaults.setObject(QVariantMap{{"third.left", stored}, {"layout.gone", entry(qint64{5}, qint64{0})}},
                           TLUserDefaults::kShortcuts);
        manager_.reset();
        const TLShortcut s = manager().shortcutForLayout(layout("third.left"));
        EXPECT_EQ(std::pair(s.keyCode(), s.modifiers()), std::pair(keyCode, modifiers)) << what;
        EXPECT_EQ(keyCodeOf("third.center"), 19) << what;
    }
    EXPECT_TRUE(table().contains("layout.gone")) << "loading writes nothing";
    manager().setShortcut(std::nullopt, layout("half.right"));
    EXPECT_FALSE(table().contains("layout.gone")) << "unknown identifiers vanish with the next save";
    defaults.setObject(QString("garbage"), TLUserDefaults::kShortcuts);
    manager_.reset();
    EXPECT_EQ(keyCodeOf("half.right"), 124);
}

TEST_F(TLHotkeyManagerTest, RefusedAndLostCombinationsAreReportedByNameInCatalogueOrder) {
    // A stored duplicate of another layout's default is no conflict at load: registration reports it.
    defaults.setObject(
        QVariantMap{{"third.right", QVariantMap{{"keyCode", qint64{19}}, {"modifiers", qint64{kCtrlOpt}}}}},
        TLUserDefaults::kShortcuts);
    EXPECT_EQ(manager().registerAll(), QStringList{"Rechtes Drittel (⌃⌥2)"});
    service.taken = {{123, kCtrlOpt}, {18, kCtrlOpt}, {124, 0x1A00}};
    EXPECT_EQ(manager().registerAll(), (QStringList{"Linkes Drittel (⌃⌥1)", "Rechtes Drittel (⌃⌥2)",
                                                    "Linke Hälfte (⌃⌥←)", "Auf nächsten Bildschirm (⌃⌥⇧→)"}));
    EXPECT_EQ(keyCodeOf("third.left"), 18) << "a refused shortcut stays";
    keyboard.switchTo(true); // the layout's current label goes into the text
    service.taken = {{6, kCtrlOpt}};
    EXPECT_EQ(manager().registerAll(), (QStringList{"Rechtes Drittel (⌃⌥2)", "Links · unten (⌃⌥Y)"}));

    QSignalSpy lost(&manager(), &TLHotkeyManager::hotkeysLost);
    service.lose({*service.refFor(123, kCtrlOpt), *service.refFor(18, kCtrlOpt)});
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(lost[0][0].toStringList(), (QStringList{"Linkes Drittel (⌃⌥1)", "Linke Hälfte (⌃⌥←)"}));
    const int unregistered = service.unregisterCount;
    manager().unregisterAll();
    EXPECT_EQ(service.unregisterCount, unregistered + 26) << "lost ones are not released again";
}

TEST_F(TLHotkeyManagerTest, SuspensionReleasesEverythingAndRegistersNothing) {
    manager().registerAll();
    QSignalSpy changed(&manager(), &TLHotkeyManager::hotkeysDidChange);
    manager().setSuspended(true);
    EXPECT_TRUE(service.registered.empty());
    const int batches = service.batchCount, unregistered = service.unregisterCount;
    service.taken = {{18, kCtrlOpt}};
    EXPECT_TRUE(manager().registerAll().isEmpty()) << "no failure texts while suspended";
    manager().setSuspended(true);
    EXPECT_EQ(std::pair(service.batchCount, service.unregisterCount), std::pair(batches, unregistered));
    manager().setSuspended(false);
    manager().setSuspended(false);
    EXPECT_EQ(service.batchCount, batches + 1) << "resuming twice registers once";
    EXPECT_EQ(service.registered.size(), 29u);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(TLHotkeyManagerTest, PressesReachTheHandlerInALaterTurnUnlessForeignOrSuspended) {
    std::vector<std::string> received;
    bool inside = false;
    const auto handler = [&](const TLLayout& l) {
        EXPECT_FALSE(inside) << "never inside the callback";
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        received.push_back(l.identifier());
    };
    manager().setHandler(handler);
    manager().registerAll();
    const auto press = [&](std::uint32_t keyCode) {
        inside = true;
        const auto status = service.press(keyCode, kCtrlOpt);
        inside = false;
        return status;
    };
    const std::pair<std::optional<TLHotKeyID>, TLOSStatus> foreign[] = {
        {TLHotKeyID{0x41424344, 0}, TLEventNotHandledErr},
        {TLHotKeyID{0x41524C54, 0}, TLEventNotHandledErr},
        {std::nullopt, TLEventNotHandledErr},
        {TLHotKeyID{TLHotKeySignature, 30}, TLNoErr},
        {TLHotKeyID{TLHotKeySignature, 0xFFFFFFFF}, TLNoErr}};
    for (const auto& [id, status] : foreign) {
        EXPECT_EQ(service.deliver({id}), status);
    }
    EXPECT_EQ(TLHotKeyPressed(nullptr, nullptr, &manager()), TLEventNotHandledErr);
    EXPECT_EQ(press(18), TLNoErr);
    manager().setSuspended(true); // pressed before the suspension: still delivered
    EXPECT_FALSE(press(18)) << "nothing registered while suspended";
    EXPECT_EQ(service.deliver({TLHotKeyID{TLHotKeySignature, 1}}), TLNoErr); // arriving now: dropped
    QCoreApplication::processEvents();
    EXPECT_EQ(received, std::vector<std::string>{"third.left"});

    manager().setSuspended(false);
    EXPECT_EQ(press(19), TLNoErr);
    manager().setHandler(nullptr); // the handler is read when the press is handled
    QCoreApplication::processEvents();
    EXPECT_EQ(press(20), TLNoErr);
    manager().setHandler(handler);
    manager_.reset(); // and not after the manager has gone
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 1u);
    EXPECT_TRUE(service.registered.empty());
    EXPECT_FALSE(service.hasHandler());
}

} // namespace
