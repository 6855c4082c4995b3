/* The public headers compile as C. */
#include "fs.h"
#include "strbuf.h"

int c_header_check(void)
{
    struct strbuf sb = STRBUF_INIT;
    fs_dir *dir = fs_opendir("");
    int r = dir ? (int)dir->count : -1;
    strbuf_release(&sb);
    return r;
}
