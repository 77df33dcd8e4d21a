#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The application's persistent settings: a property-list file written atomically at every
// change. Values are QVariants of the property-list types: bool, qint64 (integers), QString,
// QDateTime (dates) and QVariantMap (dictionaries of these).
class TLUserDefaults {
public:
    // Keys the system reads and writes.
    static constexpr const char* kShortcuts = "TLShortcuts";
    static constexpr const char* kFirstLaunchDone = "TLFirstLaunchDone";
    static constexpr const char* kTrustedWithVersion = "TLTrustedWithVersion";
    static constexpr const char* kAutoUpdateEnabled = "TLAutoUpdateEnabled";
    static constexpr const char* kLastUpdateCheck = "TLLastUpdateCheck";

    // A store backed by the given file (created on the first write).
    explicit TLUserDefaults(QString filePath);

    // The application's store: $XDG_CONFIG_HOME/Tilora/Tilora.plist (default ~/.config).
    static TLUserDefaults& standard();
    // Where standard() keeps its file.
    static QString standardFilePath();

    const QString& filePath() const { return filePath_; }

    bool boolForKey(const QString& key) const;                             // false when absent
    std::optional<QString> stringForKey(const QString& key) const;         // absent unless a string
    std::optional<QVariant> objectForKey(const QString& key) const;        // any type, or absent
    std::optional<QVariantMap> dictionaryForKey(const QString& key) const; // absent unless a dictionary

    void setBool(bool value, const QString& key);
    void setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);

private:
    QString filePath_;
    // implementation details are added by the store's implementation
};
