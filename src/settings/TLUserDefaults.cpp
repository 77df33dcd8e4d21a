#include "TLUserDefaults.h"

#include "TLConfigPaths.h"
#include "TLLog.h"
#include "TLPropertyList.h"
#include "TLShared.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the store last saw of its file, to notice changes made by another instance or process.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const {
        if (exists != other.exists) {
            return false;
        }
        return !exists ||
               (device == other.device && inode == other.inode && size == other.size &&
                modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
                changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec);
    }
};

FileStamp stampOf(const QString& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return stamp;
    }
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = info.st_mtim;
    stamp.changed = info.st_ctim;
    return stamp;
}

bool pathExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// A write takes milliseconds: a temporary file this old belongs to one that was killed.
constexpr qint64 kStaleTemporarySeconds = 30;

// Removes the temporary files that killed writes left beside the file: QSaveFile names them
// "<file>.XXXXXX" (six letters or digits) where the file system cannot make unnamed ones.
void removeStaleTemporaryFiles(const QString& filePath) {
    const QFileInfo file(filePath);
    const QString prefix = file.fileName() + u'.';
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo& entry : file.dir().entryInfoList(QDir::Files | QDir::Hidden)) {
        const QString name = entry.fileName();
        const bool temporary = name.size() == prefix.size() + 6 && name.startsWith(prefix) &&
                               std::all_of(name.begin() + prefix.size(), name.end(),
                                           [](QChar c) { return c.unicode() < 128 && c.isLetterOrNumber(); });
        if (temporary && !entry.isSymLink() && entry.ownerId() == ::geteuid() &&
            entry.lastModified().toUTC().secsTo(now) > kStaleTemporarySeconds) {
            QFile::remove(entry.filePath());
        }
    }
}

} // namespace

struct TLUserDefaults::State {
    TLPropertyList::Node root; // always a dictionary once loaded
    bool loaded = false;
    bool unreadable = false; // something unreadable is at the path; set it aside before writing
    FileStamp stamp;
};

TLUserDefaults::TLUserDefaults(QString filePath, const TLLog& log)
    : filePath_(std::move(filePath)), log_(log), state_(std::make_unique<State>()) {}

TLUserDefaults::~TLUserDefaults() = default;

TLUserDefaults& TLUserDefaults::standard() {
    return TLShared<TLUserDefaults>::get();
}

void TLUserDefaults::log(const QString& text) const {
    log_.write(QStringLiteral("Tilora: ") + text);
}

QString TLUserDefaults::standardFilePath() {
    const QString home = TLConfigPaths::configHome().value_or(QDir::homePath() + QStringLiteral("/.config"));
    return home + QStringLiteral("/Tilora/Tilora.plist");
}

TLUserDefaults::State& TLUserDefaults::state() const {
    State& state = *state_;
    const FileStamp now = stampOf(filePath_);
    if (state.loaded && now == state.stamp) {
        return state;
    }
    if (!state.loaded) {
        removeStaleTemporaryFiles(filePath_);
    }
    // The stamp is taken before reading: a change during the read shows up at the next access.
    state.stamp = now;
    state.loaded = true;
    state.root = TLPropertyList::readFile(filePath_);
    if (state.root && plist_get_node_type(state.root.get()) == PLIST_DICT) {
        state.unreadable = false;
        return state;
    }
    state.root.reset(plist_new_dict());
    state.unreadable = pathExists(filePath_);
    if (state.unreadable) {
        log(QStringLiteral("Einstellungsdatei nicht lesbar, sie wird vor dem nächsten Schreiben "
                           "beiseitegelegt: %1")
                .arg(filePath_));
    }
    return state;
}

bool TLUserDefaults::boolForKey(const QString& key) const {
    const std::optional<QVariant> value = objectForKey(key);
    if (!value) {
        return false;
    }
    switch (value->typeId()) {
    case QMetaType::Bool:
        return value->toBool();
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value->toULongLong() != 0;
    case QMetaType::Double:
        return value->toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value->toString().trimmed();
        return text.compare(QStringLiteral("yes"), Qt::CaseInsensitive) == 0 ||
               text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 || text.toLongLong() != 0;
    }
    default:
        return false;
    }
}

std::optional<QString> TLUserDefaults::stringForKey(const QString& key) const {
    const std::optional<QVariant> value = objectForKey(key);
    if (!value || value->typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value->toString();
}

std::optional<QVariant> TLUserDefaults::objectForKey(const QString& key) const {
    State& s = state();
    return TLPropertyList::toVariant(plist_dict_get_item(s.root.get(), key.toUtf8().constData()));
}

std::optional<QVariantMap> TLUserDefaults::dictionaryForKey(const QString& key) const {
    const std::optional<QVariant> value = objectForKey(key);
    if (!value || value->typeId() != QMetaType::QVariantMap) {
        return std::nullopt;
    }
    return value->toMap();
}

void TLUserDefaults::setBool(bool value, const QString& key) {
    setObject(QVariant(value), key);
}

void TLUserDefaults::setObject(const QVariant& value, const QString& key) {
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    TLPropertyList::Node node = TLPropertyList::fromVariant(value);
    if (!node || key.contains(QChar(0))) {
        log(QStringLiteral("Einstellung %1 nicht gespeichert: Werte vom Typ %2 sind nicht speicherbar")
                .arg(key, QString::fromLatin1(value.typeName())));
        return;
    }
    store(key, node.release());
}

void TLUserDefaults::removeObjectForKey(const QString& key) {
    State& s = state();
    const QByteArray name = key.toUtf8();
    if (!plist_dict_get_item(s.root.get(), name.constData())) {
        return;
    }
    plist_dict_remove_item(s.root.get(), name.constData());
    write();
}

void TLUserDefaults::store(const QString& key, void* node) {
    State& s = state();
    const QByteArray name = key.toUtf8();
    // The same value again leaves the file alone.
    const plist_t stored = plist_dict_get_item(s.root.get(), name.constData());
    if (stored && TLPropertyList::toXml(stored) == TLPropertyList::toXml(static_cast<plist_t>(node))) {
        plist_free(static_cast<plist_t>(node));
        return;
    }
    // The dictionary takes the node over and frees any value it replaces.
    plist_dict_set_item(s.root.get(), name.constData(), static_cast<plist_t>(node));
    write();
}

bool TLUserDefaults::setAsideUnreadableFile() const {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = filePath_ + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; pathExists(target); ++n) {
        target = filePath_ + QStringLiteral(".unreadable-%1-%2").arg(stamp, QString::number(n));
    }
    if (std::rename(QFile::encodeName(filePath_).constData(), QFile::encodeName(target).constData()) != 0) {
        log(QStringLiteral("Nicht lesbare Einstellungsdatei %1 lässt sich nicht beiseitelegen; "
                           "sie bleibt unverändert")
                .arg(filePath_));
        return false;
    }
    log(QStringLiteral("Nicht lesbare Einstellungsdatei beiseitegelegt als %1").arg(target));
    return true;
}

bool TLUserDefaults::write() const {
    State& s = *state_;
    const QString folder = QFileInfo(filePath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        log(QStringLiteral("Einstellungsordner %1 lässt sich nicht anlegen").arg(folder));
        return false;
    }
    if (s.unreadable && pathExists(filePath_)) {
        if (!setAsideUnreadableFile()) {
            return false;
        }
    }
    s.unreadable = false;
    const QByteArray xml = TLPropertyList::toXml(s.root.get());
    QSaveFile file(filePath_);
    if (xml.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size() ||
        !file.commit()) {
        log(QStringLiteral("Einstellungen nicht gespeichert (%1): %2").arg(filePath_, file.errorString()));
        s.stamp = stampOf(filePath_);
        return false;
    }
    s.stamp = stampOf(filePath_);
    return true;
}
