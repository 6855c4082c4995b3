// The unlocked screen's folder of 10,000 entries: showing it in the detail view and sorting
// it, on the offscreen platform.
#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include "XXProtectFileWrapper.h"
#include "XXProtectItemModel.h"

namespace {

XXProtectFileArray makeEntries(int count)
{
    XXProtectFileArray entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(XXProtectFileWrapper::makeFile("/big", "file-" + std::to_string((i * 7919) % count) + ".txt",
                                                         std::uint64_t(i) * 37, "2026-12-08 10:00:00"));
    return entries;
}

void ShowTenThousandEntries(benchmark::State &state)
{
    const XXProtectFileArray entries = makeEntries(int(state.range(0)));
    XXProtectItemModel model;
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(800, 600);
    view.show();
    for (auto _ : state) {
        model.setEntries(entries);
        QApplication::processEvents();  // layout and paint of the visible rows
        view.scrollToBottom();
        QApplication::processEvents();
    }
}
BENCHMARK(ShowTenThousandEntries)->Arg(10000)->Unit(benchmark::kMillisecond);

void SortTenThousandEntries(benchmark::State &state)
{
    const XXProtectFileArray entries = makeEntries(int(state.range(0)));
    std::int64_t key = 0;
    for (auto _ : state) {
        XXProtectFileArray copy = entries;
        XXProtectFileWrapper::sortFileArray(copy, key);
        key = (key + 1) % 6;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(SortTenThousandEntries)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
