// Property-list bytes (XML or binary) through the reader of the settings file and of a bundle's
// Info.plist: the values convert back and survive the XML form, and the bundle's information
// never names a file outside the bundle's program folder.
#include "TLBundle.h"
#include "TLFuzzCheck.h"
#include "TLPropertyList.h"
#include "TLUpdateVerifier.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Equal as the XML form keeps them: dates to the second, reals as numbers (not a number too).
bool same(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId()) {
        return false;
    }
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    case QMetaType::QDateTime:
        return std::llabs(a.toDateTime().toMSecsSinceEpoch() - b.toDateTime().toMSecsSinceEpoch()) < 1000;
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), same);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        return x.keys() == y.keys() && std::equal(x.begin(), x.end(), y.begin(), same);
    }
    default:
        return a == b;
    }
}

bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static const QString bundle = dir.filePath(QStringLiteral("Fuzz.app"));
    static const bool made = QDir().mkpath(bundle + QStringLiteral("/Contents"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const TLPropertyList::Node node = TLPropertyList::parse(bytes);
    const std::optional<QVariant> value = TLPropertyList::toVariant(node.get());
    if (value) {
        if (const TLPropertyList::Node back = TLPropertyList::fromVariant(*value)) {
            const std::optional<QVariant> again =
                TLPropertyList::toVariant(TLPropertyList::parse(TLPropertyList::toXml(back.get())).get());
            TL_FUZZ_CHECK(again && same(*value, *again));
        }
    }

    QFile file(bundle + QStringLiteral("/Contents/Info.plist"));
    TL_FUZZ_CHECK(made && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  file.write(bytes) == bytes.size());
    file.close();
    const std::optional<QVariantMap> info = TLBundle::readInfoDictionary(bundle);
    TL_FUZZ_CHECK(info.has_value() == (value && value->typeId() == QMetaType::QVariantMap));
    if (!info) {
        return 0;
    }
    const TLBundle b(bundle);
    TL_FUZZ_CHECK(!b.bundleIdentifier().isEmpty());
    if (const std::optional<QString> path = b.executablePath()) {
        TL_FUZZ_CHECK(path->startsWith(bundle + QStringLiteral("/Contents/MacOS/")) &&
                      isPlainFileName(path->mid(bundle.size() + 16)));
    }
    if (const std::optional<QString> name = TLUpdateVerifier::executableName(*info)) {
        TL_FUZZ_CHECK(isPlainFileName(*name));
    }
    return 0;
}
