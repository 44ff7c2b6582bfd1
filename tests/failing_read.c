/* Preloaded into the tool (LD_PRELOAD) to make reading one file slow (NONL_READ_DELAY_MS
 * a read), or fail part-way as a failing disk does: NONL_FAIL_READ_FILE names the file (a whole path, or its last
 * components), NONL_FAIL_READ_AFTER how many of its bytes read normally. A read that
 * crosses that point stops short at it; every read from there fails with EIO.
 * With NONL_FAIL_CLOSE_WRITTEN set, closing a file opened for writing closes it but fails
 * with EIO, as a network file whose last write is lost does (the copy has no name of its own
 * while it is written). With NONL_NO_TMPFILE set, a file without a name cannot be made
 * (O_TMPFILE), as on file systems that have none. The tool reads files with read() alone. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE /* read is defined here: the C library's checked inline one would stand in the way */
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

/* The next definition of name after this library: the C library's, usually. */
static void* next(const char* name)
{
    void* found = dlsym(RTLD_NEXT, name);
    if (found == NULL)
        abort();
    return found;
}

/* True when fd is open on the file named by the environment variable setting. */
static int isTarget(int fd, const char* setting)
{
    const char* name = getenv(setting);
    char link[64], path[4096];
    if (name == NULL || *name == '\0' || fd < 0)
        return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length < 0)
        return 0;
    path[length] = '\0';
    const size_t nameLength = strlen(name), pathLength = (size_t)length;
    if (nameLength > pathLength || strcmp(path + pathLength - nameLength, name) != 0)
        return 0;
    return nameLength == pathLength || name[0] == '/' || path[pathLength - nameLength - 1] == '/';
}

/* How many of count bytes at offset at of fd may be read; -1: the read fails. */
static ssize_t allowed(int fd, off_t at, size_t count)
{
    const char* after = getenv("NONL_FAIL_READ_AFTER");
    if (after == NULL || !isTarget(fd, "NONL_FAIL_READ_FILE"))
        return (ssize_t)count;
    const off_t limit = (off_t)strtoll(after, NULL, 10);
    if (at < 0 || at >= limit)
        return -1;
    return (size_t)(limit - at) < count ? (ssize_t)(limit - at) : (ssize_t)count;
}

ssize_t read(int fd, void* buffer, size_t count)
{
    const char* delay = getenv("NONL_READ_DELAY_MS"); /* each read of the file takes this long */
    if (delay != NULL && isTarget(fd, "NONL_FAIL_READ_FILE"))
        usleep((useconds_t)strtol(delay, NULL, 10) * 1000);
    ssize_t (*real)(int, void*, size_t);
    void* found = next("read");
    memcpy(&real, &found, sizeof real);
    const int saved = errno; /* the checks must not change what the caller sees */
    const ssize_t may = allowed(fd, lseek(fd, 0, SEEK_CUR), count);
    errno = saved;
    if (may < 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, (size_t)may);
}

int close(int fd)
{
    int (*real)(int);
    void* found = next("close");
    memcpy(&real, &found, sizeof real);
    const int flags = getenv("NONL_FAIL_CLOSE_WRITTEN") != NULL && fd > 2 ? fcntl(fd, F_GETFL) : -1;
    const int fails = flags != -1 && (flags & O_ACCMODE) != O_RDONLY && (flags & O_PATH) == 0;
    const int closed = real(fd); /* really closed, whatever it says */
    if (closed != 0 || !fails)
        return closed;
    errno = EIO;
    return -1;
}

int openat(int folder, const char* name, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    if (getenv("NONL_NO_TMPFILE") != NULL && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    int (*real)(int, const char*, int, ...);
    void* found = next("openat");
    memcpy(&real, &found, sizeof real);
    return real(folder, name, flags, mode);
}
