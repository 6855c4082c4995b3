// The unlocked screen's folder of 10,000 entries: showing it in the detail view and sorting
// it, on the offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <benchmark/benchmark.h>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "XXProtectItemModel.h"
#include "XXTransferFeedback.h"

namespace {

XXProtectFileArray makeEntries(int count)
{
    XXProtectFileArray entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(
            XXProtectFileWrapper::makeFile("/big", "file-" + std::to_string((i * 7919) % count) + ".txt",
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

XXDiskResultObject call(const std::function<void(const XXDiskResultBlock &)> &operation)
{
    XXDiskResultObject outcome = XXDiskResultObject();
    operation([&outcome](const XXDiskResultObject &result) { outcome = result; });
    return outcome;
}

// The GUI thread's longest wait between two turns of its loop while an import of
// incompressible data runs through the window's transfer feedback.
void GuiStallDuringImport(benchmark::State &state)
{
    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / ("coffervale-stall-" + std::to_string(getpid()));
    fs::create_directories(work / "stick");
    {
        std::ofstream out(work / "big.bin", std::ios::binary);
        std::mt19937_64 random(7);
        std::vector<std::uint64_t> block(1 << 17);
        for (std::int64_t written = 0; written < state.range(0) << 20;
             written += std::int64_t(block.size() * 8)) {
            for (auto &word : block)
                word = random();
            out.write(reinterpret_cast<const char *>(block.data()), std::streamsize(block.size() * 8));
        }
    }
    XXDiskFileManager &manager = XXDiskFileManager::shareDiskFileManager();
    call([&](auto done) { manager.startManagerWithDiskPath((work / "stick").string(), done); });
    call([&](auto done) { manager.createAccountWithPassword("Bench#2026", "", done); });
    call([&](auto done) { manager.loginWithPassword("Bench#2026", done); });
    std::shared_ptr<XXProtectFileWrapper> root;
    manager.acquireProtectFileWithComplete([&](const XXDiskResultObject &result) {
        if (auto *value = std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&result.successValue()))
            root = *value;
    });
    QWidget screen;
    screen.show();
    XXTransferFeedback feedback(&screen, manager);
    double longestMs = 0;
    for (auto _ : state) {
        const std::string name = "big-" + std::to_string(state.iterations()) + ".bin";
        fs::copy_file(work / "big.bin", work / name, fs::copy_options::overwrite_existing);
        QElapsedTimer sinceLastTurn;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longestMs = std::max(longestMs, double(sinceLastTurn.restart())); });
        bool finished = false;
        feedback.runImport({XXFileWrapper::initWithURL((work / name).string())},
                           root->allSubFileArray().front(), [&](bool success) {
                               finished = true;
                               if (!success)
                                   state.SkipWithError("the import failed");
                           });
        sinceLastTurn.start();
        tick.start();
        while (!finished)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        tick.stop();
    }
    state.counters["longest_gui_stall_ms"] = longestMs;
    state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
    call([&](auto done) { manager.logOutComplete(done); });
    fs::remove_all(work);
}
BENCHMARK(GuiStallDuringImport)->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Reminders and caches go to a private home, never the person's.
    const auto home =
        std::filesystem::temp_directory_path() / ("coffervale-bench-home-" + std::to_string(getpid()));
    std::filesystem::create_directories(home / "runtime");
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(home);
    return 0;
}
