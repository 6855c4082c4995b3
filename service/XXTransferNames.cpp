#include "XXTransferNames.h"

#include "XXProtectFileWrapper.h"
#include "XXUtf8.h"

namespace xxtransfer {

namespace {

constexpr int kMaxFreeNameNumber = 100000;

}  // namespace

std::string foldedName(std::string_view name)
{
    std::string folded(name);
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool sameStoreName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && foldedName(a) == foldedName(b);
}

bool canBeStoreName(std::string_view name)
{
    return canBeComputerName(name) && name.find('?') == std::string_view::npos && name.size() <= 255 &&
        xxtool::isValidUtf8(name);
}

bool canBeComputerName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
        name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::pair<std::string, std::string> splitExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return {std::string(name), std::string()};
    return {std::string(name.substr(0, dot)), std::string(name.substr(dot + 1))};
}

std::string numberedName(std::string_view name, bool isFolder, int number)
{
    const std::string counter = "(" + std::to_string(number) + ")";
    if (isFolder)
        return std::string(name) + counter;
    auto [base, extension] = splitExtension(name);
    return extension.empty() ? base + counter : base + counter + "." + extension;
}

std::string freeName(std::string_view name, bool isFolder,
                     const std::function<bool(const std::string &)> &taken)
{
    // Bounded, so a test that refuses every name (an unsearchable folder) cannot hang a run.
    for (int number = 0; number < kMaxFreeNameNumber; number++) {
        std::string candidate = numberedName(name, isFolder, number);
        if (!taken(candidate))
            return candidate;
    }
    return std::string();
}

namespace {

std::string_view trimmedSlashes(std::string_view path)
{
    while (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

}  // namespace

bool isSameOrInside(std::string_view path, std::string_view folder)
{
    const std::string inner = foldedName(trimmedSlashes(path));
    const std::string outer = foldedName(trimmedSlashes(folder));
    if (outer.empty())
        return true;
    if (inner.size() < outer.size() || inner.compare(0, outer.size(), outer) != 0)
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == '/';
}

void XXFoldedNames::add(std::string_view name, bool isFolder)
{
    (isFolder ? folders_ : files_).insert(foldedName(name));
}

bool XXFoldedNames::has(std::string_view name, bool isFolder) const
{
    const auto &set = isFolder ? folders_ : files_;
    return set.count(foldedName(name)) != 0;
}

bool XXFoldedNames::hasAny(std::string_view name) const
{
    const std::string folded = foldedName(name);
    return files_.count(folded) != 0 || folders_.count(folded) != 0;
}

void XXFoldedNames::addChildren(const XXProtectFileWrapper &folder)
{
    for (const auto &child : folder.allSubFileArray())
        add(child->fileName(), child->isDirectory());
}

}  // namespace xxtransfer
