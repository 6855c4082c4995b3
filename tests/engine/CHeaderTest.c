/* The engine's C-style headers compile as C. */
#include "fs.h"
#include "lockfile.h"
#include "path.h"
#include "strbuf.h"

int c_header_check(void)
{
    struct strbuf sb = STRBUF_INIT;
    struct lock_file lock = LOCK_INIT;
    struct fs_check_summary summary;
    fs_dir *dir = fs_opendir("");
    int r = dir ? (int)dir->count : -1;
    r += (int)last_slash_pos("a/b") + lock.active + fs_check(NULL, NULL, &summary);
    strbuf_release(&sb);
    return r;
}
