/* Loaded with LD_PRELOAD into the converter: every open that asks for an
 * unnamed file (O_TMPFILE) fails with EOPNOTSUPP, as on file systems that
 * lack it, so a save must take its named-temporary road. Each refusal appends
 * a line to the file named by LUMEVAL_SHIM_MARKER, so a test can tell that the
 * shim was loaded and did refuse. Everything else goes to the real call. */
#undef _FORTIFY_SOURCE /* the fortified open wrappers would clash with ours */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);

static int wants_tmpfile(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE;
}

/* O_CREAT and O_TMPFILE are the flags that carry a mode argument. */
static mode_t mode_of(int flags, va_list args) {
    return (flags & O_CREAT) || wants_tmpfile(flags) ? (mode_t)va_arg(args, int) : 0;
}

static void note_refusal(void) {
    const int saved = errno;
    const char* marker = getenv("LUMEVAL_SHIM_MARKER");
    if (marker && *marker) {
        /* openat by its real address: our own would come back here. */
        openat_fn real = (openat_fn)dlsym(RTLD_NEXT, "openat");
        const int fd = real ? real(AT_FDCWD, marker, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
        if (fd >= 0) {
            static const char line[] = "O_TMPFILE refused\n";
            ssize_t ignored = write(fd, line, sizeof line - 1);
            (void)ignored;
            close(fd);
        }
    }
    errno = saved;
}

static int refuse(void) {
    note_refusal();
    errno = EOPNOTSUPP;
    return -1;
}

#define SHIM_OPEN(name)                                              \
    int name(const char* path, int flags, ...) {                     \
        va_list args;                                                \
        va_start(args, flags);                                       \
        const mode_t mode = mode_of(flags, args);                    \
        va_end(args);                                                \
        if (wants_tmpfile(flags)) return refuse();                   \
        static open_fn real;                                         \
        if (!real) real = (open_fn)dlsym(RTLD_NEXT, #name);          \
        if (!real) {                                                 \
            errno = ENOSYS;                                          \
            return -1;                                               \
        }                                                            \
        return real(path, flags, mode);                              \
    }

#define SHIM_OPENAT(name)                                            \
    int name(int dirfd, const char* path, int flags, ...) {          \
        va_list args;                                                \
        va_start(args, flags);                                       \
        const mode_t mode = mode_of(flags, args);                    \
        va_end(args);                                                \
        if (wants_tmpfile(flags)) return refuse();                   \
        static openat_fn real;                                       \
        if (!real) real = (openat_fn)dlsym(RTLD_NEXT, #name);        \
        if (!real) {                                                 \
            errno = ENOSYS;                                          \
            return -1;                                               \
        }                                                            \
        return real(dirfd, path, flags, mode);                       \
    }

SHIM_OPEN(open)
SHIM_OPEN(open64)
SHIM_OPENAT(openat)
SHIM_OPENAT(openat64)
