#include "TLSwayWindowControl.h"

#include "TLSwayMessage.h"
#include "TLSwaySession.h"

#include <QFile>

namespace {

std::optional<QString> processName(std::int64_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QString name = QString::fromLocal8Bit(comm.read(64)).trimmed();
    return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
}

} // namespace

TLSwayWindowControl::TLSwayWindowControl(TLSwaySession& session) : session_(session) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    QObject::connect(&settle_, &QTimer::timeout, [this] {
        if (session_.isConnected()) {
            session_.run(settleCommand_); // a window gone by now is no failure
        }
    });
}

bool TLSwayWindowControl::isTrusted() {
    return session_.isConnected();
}

void TLSwayWindowControl::requestTrust() {
    // Sway has no permission to grant: nothing to prompt for.
}

std::optional<TLSwayTree> TLSwayWindowControl::readTree() {
    const std::optional<QJsonDocument> reply = session_.request(TLSwayMessage::kGetTree);
    if (!reply) {
        return std::nullopt;
    }
    return TLSwayTree::parse(reply->object());
}

TLFrontmostWindow TLSwayWindowControl::readFrontmostWindow() {
    TLFrontmostWindow front;
    lastRead_ = readTree();
    if (!lastRead_) {
        return front;
    }
    const TLSwayTree& tree = *lastRead_;
    front.displays = tree.displays();
    front.mainDisplay = tree.focusedOutput;
    if (!tree.focused) {
        return front;
    }
    const TLSwayTree::Container& focused = *tree.focused;
    front.hasApplication = true;
    front.applicationName = focused.applicationName ? focused.applicationName : processName(focused.pid);
    if (focused.isView) {
        front.window = static_cast<std::uint64_t>(focused.id);
        front.frame = tree.toWindowCoordinates(focused.frame);
    }
    return front;
}

std::optional<TLPoint> TLSwayWindowControl::mouseLocation() {
    return std::nullopt; // sway's IPC does not tell where the pointer is
}

QString TLSwayWindowControl::frameCommand(const TLSwayTree::Container& container, TLIntPoint layoutPosition,
                                          TLIntSize size) {
    QString command = QStringLiteral("[con_id=%1] ").arg(container.id);
    if (container.fullscreen) {
        command += QStringLiteral("fullscreen disable, ");
    }
    if (!container.floating) {
        command += QStringLiteral("floating enable, ");
    }
    return command + QStringLiteral("resize set %1 %2, move absolute position %3 %4")
                         .arg(size.width)
                         .arg(size.height)
                         .arg(layoutPosition.x)
                         .arg(layoutPosition.y);
}

bool TLSwayWindowControl::setFrame(std::uint64_t window, TLIntPoint position, TLIntSize size,
                                   QString* failure) {
    std::optional<TLSwayTree> tree = std::move(lastRead_);
    lastRead_.reset();
    if (!tree || !tree->focused || static_cast<std::uint64_t>(tree->focused->id) != window) {
        tree = readTree();
    }
    TLSwayTree::Container container;
    if (tree && tree->focused && static_cast<std::uint64_t>(tree->focused->id) == window) {
        container = *tree->focused;
    } else {
        container.id = static_cast<std::int64_t>(window); // not focused now: sway will say what it thinks
    }
    const TLIntPoint layoutPosition = tree ? tree->toLayout(position) : position;
    const QString command = frameCommand(container, layoutPosition, size);
    settle_.stop(); // a newer frame replaces one still settling
    const std::vector<TLSwaySession::Result> results = session_.run(command);
    if (results.empty()) {
        if (failure) {
            *failure = QStringLiteral("sway antwortet nicht");
        }
        return false;
    }
    for (const TLSwaySession::Result& result : results) {
        if (!result.success) {
            if (failure) {
                *failure = result.error;
            }
            return false;
        }
    }
    if (!container.floating) {
        // A window just made floating takes the size of its client's next commit, which may
        // still be one drawn for its tiled size: the frame is given once more when that is past.
        settleCommand_ = QStringLiteral("[con_id=%1] resize set %2 %3, move absolute position %4 %5")
                             .arg(container.id)
                             .arg(size.width)
                             .arg(size.height)
                             .arg(layoutPosition.x)
                             .arg(layoutPosition.y);
        settle_.start();
    }
    return true;
}
