#include "async_write.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>

#include "object.h"

struct async_writer {
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;
    int fd;
    const void *buf;
    size_t len;
    int busy;
    int quit;
    int error;  // errno of the first failed write
};

static void *write_loop(void *arg)
{
    struct async_writer *a = (struct async_writer *)arg;
    pthread_mutex_lock(&a->lock);
    for (;;) {
        while (!a->busy && !a->quit)
            pthread_cond_wait(&a->changed, &a->lock);
        if (!a->busy)
            break;
        const void *buf = a->buf;
        size_t len = a->len;
        int failed = a->error != 0;
        pthread_mutex_unlock(&a->lock);
        int err = 0;
        if (!failed && write_in_full(a->fd, buf, len) < 0)
            err = errno ? errno : EIO;
        pthread_mutex_lock(&a->lock);
        if (err && !a->error)
            a->error = err;
        a->busy = 0;
        pthread_cond_broadcast(&a->changed);
    }
    pthread_mutex_unlock(&a->lock);
    return NULL;
}

struct async_writer *async_writer_new(int fd)
{
    struct async_writer *a = (struct async_writer *)calloc(1, sizeof(*a));
    if (!a) {
        errno = ENOMEM;
        return NULL;
    }
    a->fd = fd;
    if (pthread_mutex_init(&a->lock, NULL) != 0) {
        free(a);
        errno = ENOMEM;
        return NULL;
    }
    if (pthread_cond_init(&a->changed, NULL) != 0) {
        pthread_mutex_destroy(&a->lock);
        free(a);
        errno = ENOMEM;
        return NULL;
    }
    int err = pthread_create(&a->thread, NULL, write_loop, a);
    if (err) {
        pthread_cond_destroy(&a->changed);
        pthread_mutex_destroy(&a->lock);
        free(a);
        errno = err;
        return NULL;
    }
    return a;
}

int async_writer_wait(struct async_writer *a)
{
    pthread_mutex_lock(&a->lock);
    while (a->busy)
        pthread_cond_wait(&a->changed, &a->lock);
    int err = a->error;
    pthread_mutex_unlock(&a->lock);
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}

int async_writer_submit(struct async_writer *a, const void *buf, size_t len)
{
    if (async_writer_wait(a) < 0)
        return -1;
    pthread_mutex_lock(&a->lock);
    a->buf = buf;
    a->len = len;
    a->busy = 1;
    pthread_cond_broadcast(&a->changed);
    pthread_mutex_unlock(&a->lock);
    return 0;
}

int async_writer_close(struct async_writer *a)
{
    if (!a)
        return 0;
    int r = async_writer_wait(a);
    int saved = errno;
    pthread_mutex_lock(&a->lock);
    a->quit = 1;
    pthread_cond_broadcast(&a->changed);
    pthread_mutex_unlock(&a->lock);
    pthread_join(a->thread, NULL);
    pthread_cond_destroy(&a->changed);
    pthread_mutex_destroy(&a->lock);
    free(a);
    errno = saved;
    return r;
}
