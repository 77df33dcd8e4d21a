#include "TLSwayHotKeyService.h"

#include "TLLayout.h"
#include "TLModifiers.h"
#include "TLSwayConfig.h"
#include "TLSwayKeyboardLayout.h"
#include "TLSwayMessage.h"

#include <QJsonObject>

#include <algorithm>
#include <set>

namespace {

// Carbon mask → sway's modifiers: option is Alt (Mod1), command is Super (Mod4).
std::uint32_t swayModifiers(std::uint32_t modifiers) {
    std::uint32_t mask = 0;
    mask |= (modifiers & TLShiftKey) != 0 ? TLSwayConfig::Shift : 0;
    mask |= (modifiers & TLControlKey) != 0 ? TLSwayConfig::Ctrl : 0;
    mask |= (modifiers & TLOptionKey) != 0 ? TLSwayConfig::Mod1 : 0;
    mask |= (modifiers & TLCmdKey) != 0 ? TLSwayConfig::Mod4 : 0;
    return mask;
}

} // namespace

TLSwayHotKeyService::TLSwayHotKeyService(TLSwaySession& session, TLSwayKeyboardLayout& keyboard)
    : session_(session), keyboard_(keyboard) {
    session_.addListener(*this);
    keyboard_.setChangeHandler([this](bool reloaded) { keyboardChanged(reloaded); });
}

TLSwayHotKeyService::~TLSwayHotKeyService() {
    keyboard_.setChangeHandler(nullptr);
    session_.removeListener(*this);
}

QString TLSwayHotKeyService::commandFor(const TLHotKeyID& id) {
    const auto& layouts = TLLayout::allLayouts();
    return id.id < layouts.size()
               ? QStringLiteral("nop tilora %1").arg(QString::fromStdString(layouts[id.id].identifier()))
               : QStringLiteral("nop tilora %1.%2").arg(id.signature).arg(id.id);
}

std::optional<QString> TLSwayHotKeyService::combinationFor(const TLHotKeyRequest& request) const {
    const std::uint32_t modifiers = swayModifiers(request.modifiers);
    const std::optional<QString> name = keyboard_.keysymName(request.keyCode);
    if (!name || keyboard_.configBinds(modifiers, request.keyCode)) {
        return std::nullopt;
    }
    return TLSwayConfig::modifierPrefix(modifiers) + *name;
}

std::vector<bool> TLSwayHotKeyService::bind(const std::vector<QString>& combinations,
                                            const std::vector<QString>& commands) {
    std::vector<bool> taken(combinations.size(), false);
    if (combinations.empty()) {
        return taken;
    }
    QStringList script;
    for (std::size_t i = 0; i < combinations.size(); ++i) {
        script.append(QStringLiteral("bindsym --no-repeat %1 %2").arg(combinations[i], commands[i]));
    }
    const std::vector<TLSwaySession::Result> results = session_.run(script.join(QLatin1String("; ")));
    for (std::size_t i = 0; i < results.size() && i < taken.size(); ++i) {
        taken[i] = results[i].success;
    }
    return taken;
}

std::vector<std::optional<TLHotKeyRef>>
TLSwayHotKeyService::registerHotKeys(const std::vector<TLHotKeyRequest>& requests) {
    std::vector<std::optional<TLHotKeyRef>> refs(requests.size());
    std::set<QString> held;
    for (const auto& [ref, binding] : bindings_) {
        held.insert(binding.combination);
    }
    std::vector<std::size_t> asked;
    std::vector<QString> combinations, commands;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::optional<QString> combination = combinationFor(requests[i]);
        // Sway would replace a binding Tilora holds: a second one for the same keys is refused.
        if (combination && held.insert(*combination).second) {
            asked.push_back(i);
            combinations.push_back(*combination);
            commands.push_back(commandFor(requests[i].hotKeyID));
        }
    }
    const std::vector<bool> taken = bind(combinations, commands);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        if (taken[k]) {
            const TLHotKeyRef ref = nextRef_++;
            bindings_.emplace(ref, Binding{requests[asked[k]], combinations[k]});
            refs[asked[k]] = ref;
        }
    }
    return refs;
}

void TLSwayHotKeyService::unregisterHotKey(TLHotKeyRef ref) {
    const auto it = bindings_.find(ref);
    if (it == bindings_.end()) {
        return;
    }
    session_.run(QStringLiteral("unbindsym %1").arg(it->second.combination));
    bindings_.erase(it);
}

void TLSwayHotKeyService::releaseAll() {
    QStringList script;
    for (const auto& [ref, binding] : bindings_) {
        script.append(QStringLiteral("unbindsym %1").arg(binding.combination));
    }
    bindings_.clear();
    if (!script.isEmpty() && session_.isConnected()) {
        session_.run(script.join(QLatin1String("; ")));
    }
}

void TLSwayHotKeyService::installEventHandler(TLEventHandlerProc proc, void* userData) {
    proc_ = proc;
    userData_ = userData;
}

void TLSwayHotKeyService::installLossHandler(LossHandler handler) {
    lossHandler_ = std::move(handler);
}

void TLSwayHotKeyService::handleEvent(std::uint32_t type, const QJsonObject& event) {
    if (type != TLSwayMessage::kEventBinding || proc_ == nullptr) {
        return;
    }
    const QString command =
        event.value(QLatin1String("binding")).toObject().value(QLatin1String("command")).toString();
    for (const auto& [ref, binding] : bindings_) {
        if (commandFor(binding.request.hotKeyID) == command) {
            const TLHotKeyEvent press{binding.request.hotKeyID};
            proc_(nullptr, &press, userData_);
            return;
        }
    }
}

void TLSwayHotKeyService::keyboardChanged(bool reloaded) {
    // Bind again what a reload dropped, or what a layout switch gave another name; release
    // what cannot be kept.
    std::vector<TLHotKeyRef> refs, lost;
    std::vector<QString> combinations, commands;
    QStringList unbind;
    for (auto& [ref, binding] : bindings_) {
        const std::optional<QString> combination = combinationFor(binding.request);
        if (!reloaded && combination == binding.combination) {
            continue;
        }
        if (!reloaded) {
            unbind.append(QStringLiteral("unbindsym %1").arg(binding.combination));
        }
        if (!combination) {
            lost.push_back(ref);
            continue;
        }
        refs.push_back(ref);
        combinations.push_back(*combination);
        commands.push_back(commandFor(binding.request.hotKeyID));
    }
    if (!unbind.isEmpty()) {
        session_.run(unbind.join(QLatin1String("; ")));
    }
    const std::vector<bool> taken = bind(combinations, commands);
    for (std::size_t k = 0; k < refs.size(); ++k) {
        if (taken[k]) {
            bindings_[refs[k]].combination = combinations[k];
        } else {
            lost.push_back(refs[k]);
        }
    }
    for (TLHotKeyRef ref : lost) {
        bindings_.erase(ref);
    }
    if (!lost.empty() && lossHandler_) {
        std::ranges::sort(lost);
        lossHandler_(lost);
    }
}
