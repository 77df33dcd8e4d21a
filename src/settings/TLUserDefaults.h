#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class TLLog;

// The application's persistent settings: a property-list file written atomically whenever a
// value changes (storing the value it already holds writes nothing). Values are QVariants of
// the property-list types: bool, qint64 (integers), QString, QDateTime (dates) and QVariantMap
// (dictionaries of these).
//
// The file is read on first use, which also removes what killed writes left beside it, and read
// again whenever it changed on disk. A file that cannot be read as a property-list dictionary
// counts as empty and is renamed aside with a time stamp before the first write replaces it.
// Keys and values the store does not know are kept when it writes. A failed write is logged;
// the value stays in memory for the rest of the run.
class TLUserDefaults {
public:
    // Keys the system reads and writes.
    static constexpr const char* kShortcuts = "TLShortcuts";
    static constexpr const char* kFirstLaunchDone = "TLFirstLaunchDone";
    static constexpr const char* kTrustedWithVersion = "TLTrustedWithVersion";
    static constexpr const char* kAutoUpdateEnabled = "TLAutoUpdateEnabled";
    static constexpr const char* kLastUpdateCheck = "TLLastUpdateCheck";

    // A store backed by the given file (created on the first write); problems go to log.
    TLUserDefaults(QString filePath, const TLLog& log);
    ~TLUserDefaults();
    TLUserDefaults(const TLUserDefaults&) = delete;
    TLUserDefaults& operator=(const TLUserDefaults&) = delete;

    // The application's store, the one main made on standardFilePath().
    static TLUserDefaults& standard();
    // $XDG_CONFIG_HOME/Tilora/Tilora.plist (default ~/.config).
    static QString standardFilePath();

    const QString& filePath() const { return filePath_; }

    bool boolForKey(const QString& key) const;                             // false when absent
    std::optional<QString> stringForKey(const QString& key) const;         // absent unless a string
    std::optional<QVariant> objectForKey(const QString& key) const;        // any type, or absent
    std::optional<QVariantMap> dictionaryForKey(const QString& key) const; // absent unless a dictionary

    void setBool(bool value, const QString& key);
    // An invalid QVariant removes the key; a value without a property-list form is refused (logged).
    void setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);

private:
    struct State;

    State& state() const;
    void store(const QString& key, void* node);
    bool write() const;
    bool setAsideUnreadableFile() const;
    void log(const QString& text) const;

    QString filePath_;
    const TLLog& log_;
    std::unique_ptr<State> state_;
};
