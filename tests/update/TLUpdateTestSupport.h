#pragma once

#include "TLUpdaterContext.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// Helpers shared by the updater tests: bundles on disk, property lists, waiting on the loop.
namespace TLUpdateTestSupport {

// The process's Qt application (a QApplication), created on first use and kept.
void ensureApplication();

// An XML property list holding the given string values.
QByteArray infoPlist(const QList<QPair<QString, QString>>& strings);
// Writes <path>/Contents/Info.plist (when info is not empty) and Contents/MacOS/<executable>.
void writeBundle(const QString& path, const QByteArray& info, const QString& executable,
                 const QByteArray& executableData);
// Processes events until the predicate holds or the time is up; returns the predicate.
bool waitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);
// Names in a directory starting with a prefix (hidden ones included).
QStringList entriesStartingWith(const QString& directory, const QString& prefix);
QString readFile(const QString& path);

} // namespace TLUpdateTestSupport
