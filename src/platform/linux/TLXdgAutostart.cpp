#include "TLXdgAutostart.h"

#include "TLBundle.h"
#include "TLConfigPaths.h"
#include "TLDesktopEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool fail(TLError* error, qint64 code, const QString& description) {
    if (error) {
        *error = TLError{QString::fromLatin1(TLXdgAutostart::kErrorDomain), code, description};
    }
    return false;
}

QString runningExecutable() {
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationFilePath();
    }
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace

TLXdgAutostart::TLXdgAutostart(QString entryName, QString executablePath)
    : entryName_(std::move(entryName)), executablePath_(std::move(executablePath)) {}

std::unique_ptr<TLXdgAutostart> TLXdgAutostart::forBundle(const TLBundle& bundle) {
    return std::make_unique<TLXdgAutostart>(bundle.bundleIdentifier(),
                                            bundle.executablePath().value_or(runningExecutable()));
}

std::optional<QString> TLXdgAutostart::entryPath() const {
    const std::optional<QString> home = TLConfigPaths::configHome();
    // The name comes from the bundle's Info.plist: it must not lead out of the folder.
    const bool usableName = !entryName_.isEmpty() && !entryName_.contains(QLatin1Char('/')) &&
                            !entryName_.startsWith(QLatin1Char('.')) && !entryName_.contains(QChar(0));
    if (!home || !usableName) {
        return std::nullopt;
    }
    return *home + QStringLiteral("/autostart/") + entryName_ + QStringLiteral(".desktop");
}

std::optional<QByteArray> TLXdgAutostart::entryContents() const {
    if (executablePath_.isEmpty() || !QDir::isAbsolutePath(executablePath_)) {
        return std::nullopt;
    }
    const std::optional<QString> exec = TLDesktopEntry::quoteExecArgument(executablePath_);
    if (!exec) {
        return std::nullopt;
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Tilora\n"
                                        "Exec=%1\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(TLDesktopEntry::escapeValue(*exec));
    return text.toUtf8();
}

bool TLXdgAutostart::isAvailable() const {
    return entryPath().has_value();
}

TLLoginItemStatus TLXdgAutostart::status() const {
    const std::optional<QString> path = entryPath();
    if (!path || !QFileInfo::exists(*path)) {
        return TLLoginItemStatus::NotRegistered;
    }
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        return TLLoginItemStatus::NotFound;
    }
    const auto keys = TLDesktopEntry::readGroup(file.read(1024 * 1024));
    if (!keys) {
        return TLLoginItemStatus::NotFound;
    }
    const auto flag = [&](const char* key) {
        return TLDesktopEntry::booleanValue(keys->value(QString::fromLatin1(key)));
    };
    if (flag("Hidden") == true || flag("X-GNOME-Autostart-enabled") == false) {
        return TLLoginItemStatus::RequiresApproval;
    }
    const auto arguments =
        TLDesktopEntry::splitExec(TLDesktopEntry::unescapeValue(keys->value(QStringLiteral("Exec"))));
    if (!arguments || arguments->isEmpty() || arguments->first() != executablePath_) {
        return TLLoginItemStatus::NotFound;
    }
    return TLLoginItemStatus::Enabled;
}

bool TLXdgAutostart::registerItem(TLError* error) {
    const std::optional<QString> path = entryPath();
    if (!path) {
        return fail(error, kNoConfigHome, QStringLiteral("Kein Konfigurationsordner gefunden."));
    }
    const std::optional<QByteArray> contents = entryContents();
    if (!contents) {
        return fail(
            error, kUnusableProgram,
            QStringLiteral("Der Programmpfad „%1“ lässt sich nicht in einen Autostart-Eintrag schreiben.")
                .arg(executablePath_));
    }
    const QString folder = QFileInfo(*path).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        return fail(error, kFolderNotCreated,
                    QStringLiteral("Der Autostart-Ordner „%1“ lässt sich nicht anlegen.").arg(folder));
    }
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*contents) != contents->size() || !file.commit()) {
        return fail(error, kNotWritten,
                    QStringLiteral("Der Autostart-Eintrag „%1“ lässt sich nicht schreiben: %2")
                        .arg(*path, file.errorString()));
    }
    return true;
}

bool TLXdgAutostart::unregisterItem(TLError* error) {
    const std::optional<QString> path = entryPath();
    if (!path) {
        return fail(error, kNoConfigHome, QStringLiteral("Kein Konfigurationsordner gefunden."));
    }
    const QFileInfo info(*path);
    if (!info.exists() && !info.isSymLink()) {
        return true;
    }
    QFile file(*path);
    if (!file.remove()) {
        return fail(error, kNotRemoved,
                    QStringLiteral("Der Autostart-Eintrag „%1“ lässt sich nicht entfernen: %2")
                        .arg(*path, file.errorString()));
    }
    return true;
}
