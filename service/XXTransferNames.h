// Name rules of the transfers: which names the store and the computer can take, numbered
// free names, and names compared as the store compares them (ASCII case folded).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

class XXProtectFileWrapper;

namespace xxtransfer {

// ASCII letters folded to lower case; other bytes unchanged.
std::string foldedName(std::string_view name);
bool sameStoreName(std::string_view a, std::string_view b);

// A name the store can hold as one entry and the tree will list: not empty, ".", "..", no
// "/", "\\" (a path separator to the store), "?" (marks the store's part entries) or NUL,
// at most 255 bytes, valid UTF-8.
bool canBeStoreName(std::string_view name);
// A name that can only ever name one entry inside the target folder on the computer.
bool canBeComputerName(std::string_view name);

// The name split before its last extension: "a.tar.gz" gives {"a.tar", "gz"}. A name with
// no dot, with only a leading dot (".profile") or ending in a dot has none: {name, ""}.
std::pair<std::string, std::string> splitExtension(std::string_view name);
// "Photos(0)" for a folder; "report(0).pdf", "README(0)" for files.
std::string numberedName(std::string_view name, bool isFolder, int number);
// The first numbered name, counting from 0, that taken() does not claim; "" when the first
// 100,000 all are.
std::string freeName(std::string_view name, bool isFolder,
                     const std::function<bool(const std::string &)> &taken);

// path is folder or lies below it, by whole components and folded case ("/A" is not inside
// "/AB"). "/" contains every path.
bool isSameOrInside(std::string_view path, std::string_view folder);

// Names of one folder's entries as the store compares them, by kind.
class XXFoldedNames {
public:
    void add(std::string_view name, bool isFolder);
    bool has(std::string_view name, bool isFolder) const;
    bool hasAny(std::string_view name) const;
    // Every child of a tree folder.
    void addChildren(const XXProtectFileWrapper &folder);

private:
    std::unordered_set<std::string> files_;
    std::unordered_set<std::string> folders_;
};

}  // namespace xxtransfer
