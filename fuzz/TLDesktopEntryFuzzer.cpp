// Autostart entry bytes through the entry reader (groups, Hidden, the escapes and the Exec
// quoting), and the same bytes as a program path through the entry Tilora writes: read back,
// it starts that very program.
#include "TLDesktopEntry.h"
#include "TLFuzzCheck.h"
#include "TLXdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

const QString kName = QStringLiteral("org.tilora.Fuzz");

std::optional<QStringList> execArguments(const QByteArray& entry) {
    const std::optional<QMap<QString, QString>> keys = TLDesktopEntry::readGroup(entry);
    if (!keys) {
        return std::nullopt;
    }
    return TLDesktopEntry::splitExec(TLDesktopEntry::unescapeValue(keys->value(QStringLiteral("Exec"))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static const bool configured = qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit()) &&
                                   QDir().mkpath(dir.filePath(QStringLiteral("autostart")));
    TL_FUZZ_CHECK(configured);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // Arguments read from any entry keep their meaning when quoted again.
    if (const std::optional<QStringList> arguments = execArguments(bytes)) {
        QStringList quoted;
        for (const QString& argument : *arguments) {
            if (const std::optional<QString> q = TLDesktopEntry::quoteExecArgument(argument)) {
                quoted << *q;
            }
        }
        if (quoted.size() == arguments->size()) {
            TL_FUZZ_CHECK(TLDesktopEntry::splitExec(quoted.join(QLatin1Char(' '))) == *arguments);
        }
    }

    // The same bytes as the entry on disk, then as the program an entry of Tilora's starts.
    const QString program = QStringLiteral("/") + QString::fromUtf8(bytes);
    TLXdgAutostart autostart(kName, program);
    QFile file(*autostart.entryPath());
    TL_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    if (autostart.status() == TLLoginItemStatus::Enabled) {
        TL_FUZZ_CHECK(execArguments(bytes)->value(0) == program);
    }
    if (autostart.entryContents()) {
        TL_FUZZ_CHECK(autostart.registerItem(nullptr) && autostart.status() == TLLoginItemStatus::Enabled);
    }
    return 0;
}
