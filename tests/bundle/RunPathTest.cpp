// Where the program finds itself when the stick's launchers start it through the dynamic
// loader from a file without execute bits: /proc/self/exe then names the loader.
#include <gtest/gtest.h>

#include <elf.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

// The loader named in the program's PT_INTERP header.
std::string interpreterOf(const fs::path &program)
{
    std::ifstream in(program, std::ios::binary);
    Elf64_Ehdr header{};
    in.read(reinterpret_cast<char *>(&header), sizeof header);
    for (int i = 0; in && i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        in.seekg(static_cast<std::streamoff>(header.e_phoff + i * header.e_phentsize));
        in.read(reinterpret_cast<char *>(&segment), sizeof segment);
        if (segment.p_type == PT_INTERP) {
            std::string path(segment.p_filesz, '\0');
            in.seekg(static_cast<std::streamoff>(segment.p_offset));
            in.read(path.data(), static_cast<std::streamsize>(path.size()));
            return path.c_str();
        }
    }
    return {};
}

// The program's output lines, without the COFFERVALE_ variables; argv[0] is what is started.
std::vector<std::string> run(const std::vector<std::string> &argv)
{
    const CliResult result = runProgram(argv);
    EXPECT_EQ(result.status, 0) << argv[0];
    std::vector<std::string> lines;
    std::istringstream stream(result.out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST(RunPath, IsTheProgramsFolderWhetherStartedDirectlyOrThroughTheLoader)
{
    const fs::path helper = PRINT_RUN_PATH;
    const auto direct = run({helper.string()});
    ASSERT_EQ(direct.size(), 3u);
    EXPECT_EQ(direct[0], helper.parent_path().string());
    EXPECT_EQ(direct[1], helper.string());

    // As on a FAT32 stick: a copy without execute bits, beside its resources, run by the loader.
    const std::string loader = interpreterOf(helper);
    ASSERT_FALSE(loader.empty());
    TempDir temp;
    const fs::path stick = temp.path();
    const fs::path copy = stick / "bin" / "print_run_path";
    fs::create_directories(copy.parent_path());
    fs::create_directories(stick / "share/coffervale/resources");
    fs::copy_file(helper, copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(run({loader, copy.string()}),
              (std::vector<std::string>{copy.parent_path(), copy, stick / "share/coffervale/resources"}));
}
