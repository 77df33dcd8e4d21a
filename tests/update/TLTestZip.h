#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes real zip archives (stored entries, Unix modes) with any entry names, including the
// hostile ones an extractor must refuse.
class TLTestZip {
public:
    void addFile(const QString& name, const QByteArray& data, int mode = 0644);
    void addDirectory(const QString& name, int mode = 0755);
    void addSymlink(const QString& name, const QByteArray& target);

    // Serves these bytes instead of an archive (for a download that is no zip at all).
    void setRaw(const QByteArray& bytes) { raw_ = bytes; }

    QByteArray bytes() const;

private:
    struct Entry {
        QByteArray name;
        QByteArray data;
        quint32 unixMode;
    };
    QList<Entry> entries_;
    QByteArray raw_;
};
