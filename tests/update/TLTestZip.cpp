#include "TLTestZip.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <filesystem>
#include <stdexcept>

void TLTestZip::addFile(const QString& name, const QByteArray& data, int mode) {
    entries_.append({name, data, Kind::File, mode});
}

void TLTestZip::addDirectory(const QString& name, int mode) {
    entries_.append({name, QByteArray(), Kind::Directory, mode});
}

void TLTestZip::addSymlink(const QString& name, const QByteArray& target) {
    entries_.append({name, target, Kind::Symlink, 0777});
}

QByteArray TLTestZip::bytes() const {
    if (!raw_.isEmpty()) {
        return raw_;
    }
    // Every entry is staged on disk under a plain name ("e<i>") and renamed in the archive, so
    // that any name can be stored, also those no file system would hold for us.
    QTemporaryDir stage;
    QStringList arguments{"-cf", "-", "--format", format, "-n", "-P", "-C", stage.path()};
    QStringList staged;
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const QString name = QStringLiteral("e%1").arg(i);
        const QString path = stage.filePath(name);
        if (e.kind == Kind::Symlink) {
            std::filesystem::create_symlink(e.data.toStdString(), QFile::encodeName(path).toStdString());
        } else {
            if (e.kind == Kind::Directory) {
                std::filesystem::create_directory(QFile::encodeName(path).toStdString());
            } else {
                QFile file(path);
                file.open(QIODevice::WriteOnly);
                file.write(e.data);
            }
            std::filesystem::permissions(QFile::encodeName(path).toStdString(),
                                         static_cast<std::filesystem::perms>(e.mode));
        }
        arguments << "-s" << QStringLiteral("|^%1$|%2|").arg(name, e.name);
        staged << name;
    }
    QProcess bsdtar;
    bsdtar.start(QStringLiteral("bsdtar"), arguments + staged);
    if (!bsdtar.waitForFinished() || bsdtar.exitCode() != 0) {
        throw std::runtime_error("TLTestZip: bsdtar could not write the archive");
    }
    return bsdtar.readAllStandardOutput();
}
