#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds real zip archives (written by bsdtar, modes kept) with any entry names, including the
// hostile ones an extractor must refuse. Entries are stored in the order they were added.
class TLTestZip {
public:
    void addFile(const QString& name, const QByteArray& data, int mode = 0644);
    void addDirectory(const QString& name, int mode = 0755);
    void addSymlink(const QString& name, const QByteArray& target);

    // Serves these bytes instead of an archive (for a download that is no zip at all).
    void setRaw(const QByteArray& bytes) { raw_ = bytes; }
    QString format = QStringLiteral("zip"); // any format bsdtar writes

    QByteArray bytes() const;

private:
    enum class Kind { File, Directory, Symlink };
    struct Entry {
        QString name;
        QByteArray data; // contents, or the target of a link
        Kind kind;
        int mode;
    };
    QList<Entry> entries_;
    QByteArray raw_;
};
