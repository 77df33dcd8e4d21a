#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The parts of the freedesktop desktop-entry format that an autostart entry needs: reading the
// keys of one group, the escapes of string values and the quoting of Exec arguments.
class TLDesktopEntry {
public:
    TLDesktopEntry() = delete;

    // The keys of a group with their raw (still escaped) values; the first of repeated keys wins.
    // Absent when the group is missing or the content is not UTF-8.
    static std::optional<QMap<QString, QString>>
    readGroup(const QByteArray& content, const QString& group = QStringLiteral("Desktop Entry"));

    static QString escapeValue(const QString& value);
    static QString unescapeValue(const QString& value);
    // A boolean value: "true" or "false"; absent for anything else.
    static std::optional<bool> booleanValue(const QString& value);

    // One argument quoted for the Exec key (before escapeValue), with % doubled. Absent for an
    // argument with control characters, which the key cannot carry.
    static std::optional<QString> quoteExecArgument(const QString& argument);
    // The arguments of an Exec value (after unescapeValue); absent when its quoting is broken.
    static std::optional<QStringList> splitExec(const QString& exec);
};
