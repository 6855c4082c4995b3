// One background thread that writes a file while its caller prepares the next buffer, so
// the copy into the page cache overlaps compression and encryption. One write is in flight
// at a time, and writes land in the order submitted.
#pragma once

#include <stddef.h>

struct async_writer;

// NULL with errno when no thread can be started; the caller then writes itself.
struct async_writer *async_writer_new(int fd);
// Waits for the write in flight; 0, or -1 with the errno it failed with (kept for later calls).
int async_writer_wait(struct async_writer *a);
// Starts writing len bytes of buf, which the caller leaves untouched until the next wait.
int async_writer_submit(struct async_writer *a, const void *buf, size_t len);
// Waits, stops the thread and frees everything; returns what async_writer_wait would.
int async_writer_close(struct async_writer *a);
