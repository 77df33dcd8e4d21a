#pragma once

#include "TLLoginItemService.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class TLBundle;

// Start at login as an XDG autostart entry: $XDG_CONFIG_HOME/autostart/<name>.desktop that
// starts the given program. The entry under that name is this application's own; other
// entries in the folder are never touched. The folder is looked up afresh at every call.
class TLXdgAutostart : public TLLoginItemService {
public:
    // Error codes, domain kErrorDomain.
    static constexpr const char* kErrorDomain = "XDGAutostart";
    enum ErrorCode : qint64 {
        kNoConfigHome = 1,
        kUnusableProgram = 2,
        kFolderNotCreated = 3,
        kNotWritten = 4,
        kNotRemoved = 5,
    };

    TLXdgAutostart(QString entryName, QString executablePath);

    // The entry of a bundle: its identifier names the entry, its executable (or the running
    // program, for a bundle that names none) is started.
    static std::unique_ptr<TLXdgAutostart> forBundle(const TLBundle& bundle);

    // Where the entry lies; absent when no configuration folder can be determined or the name
    // would not make a file name of its own in the autostart folder.
    std::optional<QString> entryPath() const;
    // The entry this application writes; absent when the program path cannot be written into one.
    std::optional<QByteArray> entryContents() const;

    bool isAvailable() const override;
    // NotRegistered: no entry. RequiresApproval: the entry is hidden or switched off.
    // NotFound: the entry is unreadable or starts another program. Enabled otherwise.
    TLLoginItemStatus status() const override;
    bool registerItem(TLError* error) override;
    bool unregisterItem(TLError* error) override;

private:
    QString entryName_;
    QString executablePath_;
};
