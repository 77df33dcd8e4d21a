#include "TLHotkeyManager.h"

#include "TLKeyTable.h"
#include "TLLayout.h"
#include "TLShared.h"
#include "TLUserDefaults.h"

#include <QMetaObject>
#include <QMetaType>
#include <QVariant>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const QString kKeyCode = QStringLiteral("keyCode");
const QString kModifiers = QStringLiteral("modifiers");

// A stored number as a signed 64-bit integer. Integers and whole reals count; anything else
// (text, booleans, dates, dictionaries, fractions, out-of-range values) is not a number.
std::optional<std::int64_t> storedInteger(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    case QMetaType::Float:
    case QMetaType::Double: {
        const double real = value.toDouble();
        // 2^63 is exactly representable; everything below it converts without overflow.
        constexpr double kLimit = 9223372036854775808.0;
        if (!std::isfinite(real) || std::trunc(real) != real || real < -kLimit || real >= kLimit) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(real);
    }
    default:
        return std::nullopt;
    }
}

// The shortcut of one stored entry, or nothing when the entry gives no usable key code or a
// "modifiers" that is not a number: read as none, it would take the bare key from every
// program. A missing "modifiers" counts as 0; of a number the low 32 bits are kept.
std::optional<TLShortcut> storedShortcut(const QVariant& entry) {
    if (entry.metaType().id() != QMetaType::QVariantMap) {
        return std::nullopt;
    }
    const QVariantMap map = entry.toMap();
    const auto keyCodeIt = map.constFind(kKeyCode);
    if (keyCodeIt == map.constEnd()) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> keyCode = storedInteger(*keyCodeIt);
    if (!keyCode) {
        return std::nullopt;
    }
    std::optional<std::int64_t> modifiers = 0;
    const auto modifiersIt = map.constFind(kModifiers);
    if (modifiersIt != map.constEnd()) {
        modifiers = storedInteger(*modifiersIt);
    }
    if (!modifiers) {
        return std::nullopt;
    }
    return TLShortcut::shortcutWithKeyCode(*keyCode, static_cast<std::uint32_t>(*modifiers));
}

} // namespace

TLHotkeyManager::TLHotkeyManager(TLUserDefaults& defaults, TLHotKeyService& service,
                                 const TLKeyboardLayout& labels, QObject* parent)
    : QObject(parent), defaults_(defaults), service_(service), labels_(labels) {
    retryTimer_.setInterval(kRetryIntervalMs);
    connect(&retryTimer_, &QTimer::timeout, this, &TLHotkeyManager::retryRefused);
    load();
    service_.installEventHandler(&TLHotKeyPressed, this);
    service_.installLossHandler([this](const std::vector<TLHotKeyRef>& refs) { lose(refs); });
}

TLHotkeyManager::~TLHotkeyManager() {
    // The service outlives the manager: leave it clean.
    unregisterAll();
    service_.installEventHandler(nullptr, nullptr);
    service_.installLossHandler(nullptr);
}

TLHotkeyManager& TLHotkeyManager::shared() {
    return TLShared<TLHotkeyManager>::get();
}

void TLHotkeyManager::load() {
    shortcuts_.clear();
    const std::optional<QVariantMap> stored =
        defaults_.dictionaryForKey(QString::fromUtf8(TLUserDefaults::kShortcuts));
    for (const TLLayout& layout : TLLayout::allLayouts()) {
        std::optional<TLShortcut> shortcut;
        if (stored) {
            const auto it = stored->constFind(QString::fromStdString(layout.identifier()));
            if (it != stored->constEnd()) {
                shortcut = storedShortcut(*it);
            }
        }
        if (!shortcut) {
            shortcut = TLShortcut::shortcutWithKeyCode(layout.defaultKeyCode(), layout.defaultModifiers());
        }
        shortcuts_.insert_or_assign(layout.identifier(), *shortcut);
    }
}

void TLHotkeyManager::save() {
    QVariantMap table;
    for (const auto& [identifier, shortcut] : shortcuts_) {
        QVariantMap entry;
        entry.insert(kKeyCode, QVariant::fromValue<qint64>(shortcut.keyCode()));
        entry.insert(kModifiers, QVariant::fromValue<qint64>(shortcut.modifiers()));
        table.insert(QString::fromStdString(identifier), entry);
    }
    defaults_.setObject(table, QString::fromUtf8(TLUserDefaults::kShortcuts));
}

TLShortcut TLHotkeyManager::shortcutForLayout(const TLLayout& layout) const {
    const auto it = shortcuts_.find(layout.identifier());
    return it != shortcuts_.end() ? it->second : TLShortcut::unbound();
}

void TLHotkeyManager::setShortcut(std::optional<TLShortcut> shortcut, const TLLayout& layout) {
    // The table holds catalogue layouts only; anything else would linger in the stored form.
    const TLLayout* entry = TLLayout::layoutWithIdentifier(layout.identifier());
    if (entry == nullptr) {
        return;
    }
    const TLShortcut assigned = shortcut.value_or(TLShortcut::unbound());
    for (const TLLayout& other : TLLayout::allLayouts()) {
        if (&other == entry) {
            continue;
        }
        const auto it = shortcuts_.find(other.identifier());
        if (it != shortcuts_.end() && it->second.isEqualToShortcut(&assigned)) {
            it->second = TLShortcut::unbound();
        }
    }
    shortcuts_.insert_or_assign(entry->identifier(), assigned);
    save();
    registerAll();
    emit hotkeysDidChange();
}

void TLHotkeyManager::resetToDefaults() {
    defaults_.removeObjectForKey(QString::fromUtf8(TLUserDefaults::kShortcuts));
    load();
    registerAll();
    emit hotkeysDidChange();
}

void TLHotkeyManager::setSuspended(bool suspended) {
    if (suspended == suspended_) {
        return;
    }
    suspended_ = suspended;
    if (suspended_) {
        unregisterAll();
    } else {
        registerAll();
    }
}

QStringList TLHotkeyManager::registerAll() {
    unregisterAll();
    if (suspended_) {
        return {};
    }
    std::vector<std::size_t> bound;
    for (std::size_t i = 0; i < TLLayout::allLayouts().size(); ++i) {
        if (shortcutForLayout(TLLayout::allLayouts()[i]).isBound()) {
            bound.push_back(i);
        }
    }
    QStringList failures;
    for (std::size_t index : registerBatch(bound)) {
        failures << failureText(index);
        if (hasKey(index)) {
            refused_.insert(index);
        }
    }
    if (!refused_.empty()) {
        retryTimer_.start();
    }
    return failures;
}

void TLHotkeyManager::retryRefused() {
    if (suspended_ || refused_.empty()) {
        retryTimer_.stop();
        return;
    }
    const std::vector<std::size_t> failed = registerBatch({refused_.begin(), refused_.end()});
    const bool changed = failed.size() != refused_.size();
    refused_ = {failed.begin(), failed.end()};
    if (refused_.empty()) {
        retryTimer_.stop();
    }
    if (changed) {
        emit registrationChanged(failures());
    }
}

std::vector<std::size_t> TLHotkeyManager::registerBatch(const std::vector<std::size_t>& layoutIndices) {
    if (layoutIndices.empty()) {
        return {};
    }
    // A key code that names no key is never asked for: cut down to a hot key's width it could
    // grab another key.
    std::vector<std::size_t> asked;
    std::vector<std::size_t> failed;
    std::vector<TLHotKeyRequest> requests;
    for (std::size_t i : layoutIndices) {
        if (!hasKey(i)) {
            failed.push_back(i);
            continue;
        }
        const TLShortcut shortcut = shortcutForLayout(TLLayout::allLayouts()[i]);
        asked.push_back(i);
        requests.push_back({static_cast<std::uint32_t>(shortcut.keyCode()),
                            shortcut.modifiers(),
                            {TLHotKeySignature, static_cast<std::uint32_t>(i)}});
    }
    const std::vector<std::optional<TLHotKeyRef>> results =
        requests.empty() ? std::vector<std::optional<TLHotKeyRef>>() : service_.registerHotKeys(requests);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        if (k < results.size() && results[k]) {
            registeredRefs_.emplace_back(*results[k], asked[k]);
        } else {
            failed.push_back(asked[k]);
        }
    }
    std::sort(failed.begin(), failed.end()); // reported in the catalogue's order
    return failed;
}

bool TLHotkeyManager::hasKey(std::size_t layoutIndex) const {
    return TLKeyTable::byVirtualKeyCode(shortcutForLayout(TLLayout::allLayouts()[layoutIndex]).keyCode()) !=
           nullptr;
}

QStringList TLHotkeyManager::keylessShortcuts() const {
    QStringList keyless;
    for (std::size_t i = 0; i < TLLayout::allLayouts().size(); ++i) {
        if (shortcutForLayout(TLLayout::allLayouts()[i]).isBound() && !hasKey(i)) {
            keyless << failureText(i);
        }
    }
    return keyless;
}

QStringList TLHotkeyManager::failures() const {
    QStringList texts;
    for (std::size_t i = 0; i < TLLayout::allLayouts().size(); ++i) {
        const bool bound = shortcutForLayout(TLLayout::allLayouts()[i]).isBound();
        if (refused_.contains(i) || (bound && !hasKey(i))) {
            texts << failureText(i);
        }
    }
    return texts;
}

QString TLHotkeyManager::failureText(std::size_t layoutIndex) const {
    const TLLayout& layout = TLLayout::allLayouts()[layoutIndex];
    return QStringLiteral("%1 (%2)").arg(QString::fromStdString(layout.name()),
                                         shortcutForLayout(layout).displayString(labels_));
}

void TLHotkeyManager::lose(const std::vector<TLHotKeyRef>& refs) {
    std::vector<std::size_t> indices;
    std::erase_if(registeredRefs_, [&](const auto& registered) {
        const bool lost = std::ranges::find(refs, registered.first) != refs.end();
        if (lost) {
            indices.push_back(registered.second);
        }
        return lost;
    });
    if (indices.empty()) {
        return;
    }
    std::ranges::sort(indices);
    QStringList lost;
    for (std::size_t index : indices) {
        lost << failureText(index);
        refused_.insert(index);
    }
    retryTimer_.start();
    emit hotkeysLost(lost);
    emit registrationChanged(failures());
}

void TLHotkeyManager::unregisterAll() {
    for (const auto& [ref, index] : registeredRefs_) {
        service_.unregisterHotKey(ref);
    }
    registeredRefs_.clear();
    refused_.clear();
    retryTimer_.stop();
}

void TLHotkeyManager::setHandler(Handler handler) {
    handler_ = std::move(handler);
}

TLOSStatus TLHotKeyPressed(TLEventHandlerCallRef, TLEventRef event, void* userData) {
    TLHotKeyID hotKeyID;
    if (TLGetEventHotKeyID(event, &hotKeyID) != TLNoErr || hotKeyID.signature != TLHotKeySignature) {
        return TLEventNotHandledErr;
    }
    auto* manager = static_cast<TLHotkeyManager*>(userData);
    const std::vector<TLLayout>& all = TLLayout::allLayouts();
    if (manager != nullptr && hotKeyID.id < all.size() && !manager->suspended() && manager->handler()) {
        const TLLayout& layout = all[hotKeyID.id];
        // Never inside the callback: the handler moves windows, which must not happen while
        // the event is still being dispatched. The handler is read when the work item runs.
        QMetaObject::invokeMethod(
            manager,
            [manager, &layout] {
                const TLHotkeyManager::Handler handler = manager->handler();
                if (handler) {
                    handler(layout);
                }
            },
            Qt::QueuedConnection);
    }
    return TLNoErr;
}
