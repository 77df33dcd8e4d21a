// Reading property lists: a small settings file from disk, and arrays and dictionaries of growing
// size, whose time must grow linearly with the number of items, also where a list lies beyond
// the bounds and is refused.
#include "TLPropertyList.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray binaryOf(const QVariant& value) {
    const TLPropertyList::Node node = TLPropertyList::fromVariant(value);
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(node.get(), &raw, &length);
    QByteArray bytes(raw, static_cast<qsizetype>(length));
    std::free(raw);
    return bytes;
}

void read(benchmark::State& state, const QByteArray& bytes) {
    for (auto _ : state) {
        const TLPropertyList::Node node = TLPropertyList::parse(bytes);
        benchmark::DoNotOptimize(TLPropertyList::toVariant(node.get()));
    }
    state.SetComplexityN(state.range(0));
}

void BM_ReadBinaryArray(benchmark::State& state) {
    read(state, binaryOf(QVariantList(state.range(0), QVariant(qint64{7}))));
}
BENCHMARK(BM_ReadBinaryArray)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

// The two largest hold more items than the node bound allows.
void BM_ReadXmlArray(benchmark::State& state) {
    const QByteArray items = QByteArray("<true/>").repeated(state.range(0));
    read(state, "<plist version=\"1.0\"><array>" + items + "</array></plist>");
}
BENCHMARK(BM_ReadXmlArray)->RangeMultiplier(4)->Range(1 << 12, 1 << 20)->Complexity();

void BM_ReadBinaryDictionary(benchmark::State& state) {
    QVariantMap map;
    for (qint64 i = 0; i < state.range(0); ++i) {
        map.insert(QString::number(i), i);
    }
    read(state, binaryOf(map));
}
BENCHMARK(BM_ReadBinaryDictionary)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

// The settings file as the store writes it: thirty shortcuts and four other keys.
void BM_ReadSettingsFile(benchmark::State& state) {
    QVariantMap shortcuts;
    for (int i = 0; i < 30; ++i) {
        shortcuts.insert(QStringLiteral("layout.%1").arg(i),
                         QVariantMap{{"keyCode", i}, {"modifiers", 6144}});
    }
    const QVariantMap root{{"TLShortcuts", shortcuts},
                           {"TLFirstLaunchDone", true},
                           {"TLTrustedWithVersion", QStringLiteral("1.4")},
                           {"TLAutoUpdateEnabled", true},
                           {"TLLastUpdateCheck", QDateTime::currentDateTimeUtc()}};
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Tilora.plist")));
    const QByteArray xml = TLPropertyList::toXml(TLPropertyList::fromVariant(root).get());
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size()) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    file.close();
    for (auto _ : state) {
        benchmark::DoNotOptimize(TLPropertyList::readFile(file.fileName()));
    }
    state.counters["bytes"] = static_cast<double>(xml.size());
}
BENCHMARK(BM_ReadSettingsFile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
