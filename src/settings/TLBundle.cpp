#include "TLBundle.h"

#include "TLPropertyList.h"

#include <TLBuildSettings.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString runningExecutablePath() {
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationFilePath();
    }
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

std::optional<QString> stringValue(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.cend() || it->typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return it->toString();
}

} // namespace

TLBundle::TLBundle(QString bundlePath) : bundlePath_(std::move(bundlePath)) {}

TLBundle TLBundle::ofRunningExecutable() {
    return TLBundle(bundlePathForExecutable(runningExecutablePath()));
}

QString TLBundle::bundlePathForExecutable(const QString& executablePath) {
    if (executablePath.isEmpty()) {
        return {};
    }
    const QString path = QDir::cleanPath(QFileInfo(executablePath).absoluteFilePath());
    const QStringList parts = path.split(QLatin1Char('/'));
    const qsizetype n = parts.size();
    if (n < 5 || parts[n - 2] != QStringLiteral("MacOS") || parts[n - 3] != QStringLiteral("Contents")) {
        return {};
    }
    const QString& bundleName = parts[n - 4];
    if (!bundleName.endsWith(QStringLiteral(".app")) || bundleName.size() <= 4) {
        return {};
    }
    return parts.mid(0, n - 3).join(QLatin1Char('/'));
}

std::optional<QVariantMap> TLBundle::readInfoDictionary(const QString& bundlePath) {
    if (bundlePath.isEmpty()) {
        return std::nullopt;
    }
    TLPropertyList::Node root = TLPropertyList::readFile(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }
    const std::optional<QVariant> value = TLPropertyList::toVariant(root.get());
    if (!value) {
        return std::nullopt;
    }
    return value->toMap();
}

const QVariantMap& TLBundle::infoDictionary() const {
    if (!info_) {
        info_ = readInfoDictionary(bundlePath_).value_or(QVariantMap());
    }
    return *info_;
}

QString TLBundle::bundleIdentifier() const {
    const std::optional<QString> identifier =
        stringValue(infoDictionary(), QStringLiteral("CFBundleIdentifier"));
    if (identifier && !identifier->isEmpty()) {
        return *identifier;
    }
    return QString::fromUtf8(TLBuildSettings::kBundleIdentifier);
}

std::optional<QString> TLBundle::shortVersion() const {
    return stringValue(infoDictionary(), QStringLiteral("CFBundleShortVersionString"));
}

bool TLBundle::isExecutableName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
           name != QStringLiteral(".") && name != QStringLiteral("..");
}

std::optional<QString> TLBundle::executablePath() const {
    const std::optional<QString> name = stringValue(infoDictionary(), QStringLiteral("CFBundleExecutable"));
    if (bundlePath_.isEmpty() || !name || !isExecutableName(*name)) {
        return std::nullopt;
    }
    return bundlePath_ + QStringLiteral("/Contents/MacOS/") + *name;
}
