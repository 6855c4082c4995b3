// Cleaning up after a crash: the problems fs_check finds that an interrupted write can leave
// are undone; everything else is left for the user to see. No byte a person could still want
// goes: a file damaged after its write finished stays for salvage, and orphaned objects stay
// while some folder cannot be read, as they may be its files.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "engine_internal.h"
#include "fs.h"
#include "object.h"

namespace {

struct findings {
    std::set<std::string> entries;  // unfinished writes: store paths without the leading "/"
    std::vector<std::string> locks, orphans;  // paths on the volume
    std::vector<std::string> sharing;  // folder entries naming another's index, with a final "/"
    std::vector<std::string> marked;  // whole files still marked unfinished
    bool unwalked = false;  // a folder index could not be read
};

void collect(const struct fs_check_problem *p, void *ctx)
{
    auto *f = static_cast<findings *>(ctx);
    switch (p->kind) {
    case FS_CHECK_OBJECT_MISSING:
    case FS_CHECK_OBJECT_UNREADABLE:
    case FS_CHECK_CONTENT_DAMAGED:  // a stream cut short reads as damaged
    case FS_CHECK_SIZE_MISMATCH:
    case FS_CHECK_PART_MISSING:
        // Folder problems are reported with a final "/"; those are never repaired here.
        if (p->unfinished && p->path[0] == '/' && p->path[1] && p->path[strlen(p->path) - 1] != '/')
            f->entries.insert(p->path + 1);
        break;
    case FS_CHECK_FOLDER_MISSING:
    case FS_CHECK_FOLDER_DAMAGED:
        f->unwalked = true;
        break;
    case FS_CHECK_FOLDER_SHARED:
        if (p->path[0] == '/' && strlen(p->path) > 2)
            f->sharing.push_back(p->path);
        break;
    case FS_CHECK_UNFINISHED_MARK:
        if (p->path[0] == '/')
            f->marked.push_back(p->path);
        break;
    case FS_CHECK_LEFTOVER_LOCK:
        f->locks.push_back(p->path);
        break;
    case FS_CHECK_ORPHANED_OBJECT:
        f->orphans.push_back(p->path);
        break;
    default:
        break;
    }
}

void tell(fs_repair_fn fn, void *ctx, const std::string &text)
{
    if (fn)
        fn(text.c_str(), ctx);
}

}  // namespace

int fs_repair(fs_repair_fn on_action, void *ctx)
{
    findings found;
    try {
        if (fs_check(collect, &found, NULL) < 0)
            return -1;
        int done = 0;
        for (const std::string &path : found.entries) {
            if (fs_unlink(path.c_str()) == 0) {
                tell(on_action, ctx, "removed /" + path + ", whose write never finished");
                done++;
            } else if (errno != ENOENT) {  // gone with the file it was a part of
                tell(on_action, ctx, "could not remove /" + path + ", whose write never finished: " +
                                         strerror(errno));
            }
        }
        // The walk met the shared index first through the other entry, which keeps it.
        for (const std::string &path : found.sharing) {
            if (forget_folder_entry(path.substr(1, path.size() - 2).c_str()) == 0) {
                tell(on_action, ctx,
                     "removed the entry " + path +
                         ", which named the index of another folder (that folder keeps it)");
                done++;
            } else {
                tell(on_action, ctx, "could not remove the entry " + path + ": " + strerror(errno));
            }
        }
        for (const std::string &path : found.marked) {
            if (clear_unfinished_mark(path.c_str() + 1) == 0) {
                tell(on_action, ctx, "marked " + path + " as finished: its content is whole");
                done++;
            } else {
                tell(on_action, ctx, "could not mark " + path + " as finished: " + strerror(errno));
            }
        }
        for (const std::string &path : found.locks) {
            if (fs_sys_unlink(path.c_str()) == 0 || errno == ENOENT) {
                tell(on_action, ctx, "removed the leftover lock file " + path);
                done++;
            } else {
                tell(on_action, ctx, "could not remove " + path + ": " + strerror(errno));
            }
        }
        for (const std::string &path : found.orphans) {
            if (found.unwalked)
                break;
            delete_object_file(path.c_str());
            tell(on_action, ctx, "removed the orphaned object file " + path);
            done++;
        }
        return done;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}
