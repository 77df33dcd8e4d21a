// A settings file from bytes through the settings store and the shortcut table: the table keeps
// one shortcut per layout (defaults where the file has none), hot keys are asked for exactly the
// table's combinations, and what is saved reads back as it was read, also after a reassignment
// under the conflict rule.
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLFuzzCheck.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLUpdateSchedule.h"
#include "TLUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The store logs every file it cannot read; a fuzz run would drown in those lines.
const TLLog kQuiet{nullptr};
const TLFakeKeyboardLayout kLabels;

using Table = std::vector<std::pair<std::int64_t, std::uint32_t>>;
const QDateTime kNow = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);

QString key(const char* name) {
    return QString::fromUtf8(name);
}

Table tableOf(const TLHotkeyManager& manager) {
    Table table;
    for (const TLLayout& layout : TLLayout::allLayouts()) {
        const TLShortcut s = manager.shortcutForLayout(layout);
        table.emplace_back(s.keyCode(), s.modifiers());
    }
    return table;
}

// What the program takes from the file, in its own terms.
struct Reading {
    Table table;
    bool firstLaunchDone;
    std::optional<QString> trustedWithVersion;
    bool automaticChecks;
    qint64 firstCheckDelayMs;
};

Reading read(const QString& path) {
    TLUserDefaults defaults(path, kQuiet);
    TLFakeHotKeyService service;
    TLHotkeyManager manager(defaults, service, kLabels);
    const bool automatic = !defaults.objectForKey(key(TLUserDefaults::kAutoUpdateEnabled)) ||
                           defaults.boolForKey(key(TLUserDefaults::kAutoUpdateEnabled));
    return {
        tableOf(manager), defaults.boolForKey(key(TLUserDefaults::kFirstLaunchDone)),
        defaults.stringForKey(key(TLUserDefaults::kTrustedWithVersion)), automatic,
        TLUpdateSchedule::firstDelayMs(defaults.objectForKey(key(TLUserDefaults::kLastUpdateCheck)), kNow)};
}

// The XML form keeps dates to the second.
bool same(const Reading& a, const Reading& b) {
    return a.table == b.table && a.firstLaunchDone == b.firstLaunchDone &&
           a.trustedWithVersion == b.trustedWithVersion && a.automaticChecks == b.automaticChecks &&
           std::llabs(a.firstCheckDelayMs - b.firstCheckDelayMs) < 1000;
}

void checkRegistrations(TLHotkeyManager& manager, const TLFakeHotKeyService& service) {
    const QStringList refused = manager.registerAll();
    const std::vector<TLLayout>& layouts = TLLayout::allLayouts();
    qsizetype bound = 0;
    for (const TLLayout& layout : layouts) {
        bound += manager.shortcutForLayout(layout).isBound() ? 1 : 0;
    }
    TL_FUZZ_CHECK(qsizetype(service.registered.size()) + refused.size() == bound);
    for (const auto& [ref, request] : service.registered) {
        TL_FUZZ_CHECK(request.hotKeyID.signature == TLHotKeySignature &&
                      request.hotKeyID.id < layouts.size());
        const TLShortcut s = manager.shortcutForLayout(layouts[request.hotKeyID.id]);
        TL_FUZZ_CHECK(s.isBound() && std::uint64_t(s.keyCode()) == request.keyCode &&
                      s.modifiers() == request.modifiers);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    // A fresh folder: an unreadable file is set aside beside the settings file.
    QDir folder(dir.filePath(QStringLiteral("settings")));
    folder.removeRecursively();
    TL_FUZZ_CHECK(folder.mkpath(QStringLiteral(".")));
    const QString path = folder.filePath(QStringLiteral("Tilora.plist"));
    QFile file(path);
    TL_FUZZ_CHECK(file.open(QIODevice::WriteOnly) &&
                  file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    file.close();

    const Reading first = read(path);
    const std::vector<TLLayout>& layouts = TLLayout::allLayouts();
    TL_FUZZ_CHECK(first.table.size() == layouts.size());
    {
        TLUserDefaults defaults(path, kQuiet);
        TLFakeHotKeyService service;
        TLHotkeyManager manager(defaults, service, kLabels);
        // A layout the file names no shortcut for has its default.
        const QVariantMap stored =
            defaults.dictionaryForKey(key(TLUserDefaults::kShortcuts)).value_or(QVariantMap());
        for (std::size_t i = 0; i < layouts.size(); ++i) {
            if (!stored.contains(QString::fromStdString(layouts[i].identifier()))) {
                TL_FUZZ_CHECK(first.table[i] ==
                              std::pair(layouts[i].defaultKeyCode(), layouts[i].defaultModifiers()));
            }
        }
        checkRegistrations(manager, service);
        manager.save();
    }
    const Reading second = read(path);
    TL_FUZZ_CHECK(same(first, second));

    // One layout takes over another's combination (chosen by the input's size).
    const TLLayout& taker = layouts[size % layouts.size()];
    const TLLayout& holder = layouts[(size / layouts.size()) % layouts.size()];
    Table expected;
    {
        TLUserDefaults defaults(path, kQuiet);
        TLFakeHotKeyService service;
        TLHotkeyManager manager(defaults, service, kLabels);
        const TLShortcut taken = manager.shortcutForLayout(holder);
        manager.setShortcut(taken, taker);
        for (const TLLayout& layout : layouts) {
            const TLShortcut s = manager.shortcutForLayout(layout);
            TL_FUZZ_CHECK(&layout == &taker
                              ? s.keyCode() == taken.keyCode() && s.modifiers() == taken.modifiers()
                              : !s.isEqualToShortcut(&taken));
        }
        checkRegistrations(manager, service);
        expected = tableOf(manager);
    }
    TL_FUZZ_CHECK(read(path).table == expected);
    return 0;
}
