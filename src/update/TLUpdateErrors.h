#pragma once

#include <QString>

// The updater's transport and file errors in the user's language: the common cases from a small
// table, the system's own text only for the rest.
class TLUpdateErrors {
public:
    static constexpr const char* kRefused = "Der Server hat die Verbindung abgelehnt.";
    static constexpr const char* kTimedOut = "Zeitüberschreitung bei der Anforderung.";
    static constexpr const char* kConnectionLost = "Die Netzwerkverbindung wurde unterbrochen.";
    static constexpr const char* kHostNotFound = "Der Server wurde nicht gefunden.";
    static constexpr const char* kTlsFailed =
        "Es konnte keine sichere Verbindung zum Server hergestellt werden.";
    static constexpr const char* kRedirectRefused = "Der Server leitete auf eine unzulässige Adresse um.";
    static constexpr const char* kPermissionDenied = "Keine Zugriffsberechtigung.";
    static constexpr const char* kDiskFull = "Nicht genügend freier Speicherplatz.";
    static constexpr const char* kFileExists = "Am Zielort ist bereits ein Objekt mit diesem Namen.";

    // A failed file operation, by its errno value.
    static QString file(int error);
    // "„<name>“ konnte nicht bewegt werden: <reason>"
    static QString moveFailed(const QString& path, int error);
};
