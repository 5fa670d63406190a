/*
 * libtolvarin_fault: an LD_PRELOAD library for end-to-end tests. It makes
 * reads, seeks and writes at chosen byte offsets of one file or device fail or
 * "take time", and moves the clock the process sees forward instead of
 * sleeping, so that a test of a slow unit finishes in seconds.
 *
 * Environment:
 *   TOLVARIN_FAULT_PLAN=FILE    the plan below; unset or empty: every call
 *                               passes straight through.
 *   TOLVARIN_FAULT_REPORT=FILE  optional; each process that touched the target
 *                               appends one summary line when it exits.
 *
 * Plan: one directive a line. Blank lines and lines starting with '#' are
 * ignored. Numbers are bytes, decimal or 0x-hex, optionally followed by K, M
 * or G (KiB, MiB, GiB). Every range is [START, END) with START < END.
 *
 *   target PATH                 the file or device faults apply to (up to 8
 *                               lines; any of them matches). Matched by
 *                               identity, not by name: a regular file by
 *                               (device, inode), a device node by its device
 *                               number, so a symbolic or hard link works too.
 *                               A relative PATH is relative to the plan's
 *                               directory. PATH may appear after start-up.
 *   eio START END [sticky]      read, pread, readv overlapping the range fail
 *                               with EIO and read nothing. A successful write
 *                               over part of the range removes that part
 *                               (a repair by writing zeros then reads back
 *                               well) unless the range is sticky.
 *   seekfail START END          lseek to an offset in the range fails with
 *                               EIO and leaves the offset where it was
 *                               (lseek(fd, 0, SEEK_CUR) only asks and never
 *                               fails).
 *   slow START END MICROSECONDS a read overlapping the range returns normally
 *                               and moves the process's clock forward by
 *                               MICROSECONDS (several slow ranges add up); a
 *                               read that also hits an eio range takes the
 *                               time and then fails.
 *   stall START END MICROSECONDS [MARKER]
 *                               a read overlapping the range first waits
 *                               MICROSECONDS for real (the clock is not
 *                               moved), so that another process can act
 *                               during the read; while it waits the file
 *                               MARKER (relative to the plan) exists.
 *   short START END BYTES       a read starting in the range returns at most
 *                               BYTES bytes (0 reads as end of file); the file
 *                               offset moves by what was returned.
 *   writefail START END         write, pwrite, writev overlapping the range
 *                               fail with EIO and write nothing.
 *   gone START END [ENODEV|ENXIO]
 *                               reads and writes overlapping the range fail
 *                               with that errno (ENODEV when none is named),
 *                               as on a device that has gone away; writes
 *                               never heal it.
 *   unplug at OFFSET [ERRNO]    from the first read of the target that
 *   unplug after READS [ERRNO]  reaches OFFSET (or from the read after the
 *                               first READS reads) on, every read and write
 *                               of the target fails with ENODEV or ENXIO:
 *                               the unit was pulled out mid-test.
 *   wallstep MICROSECONDS at OFFSET
 *   wallstep MICROSECONDS after READS
 *                               at that read the wall clock (CLOCK_REALTIME,
 *                               gettimeofday, time) jumps by MICROSECONDS,
 *                               back when negative, as when NTP or a user
 *                               sets the time; CLOCK_MONOTONIC runs on.
 *
 * The clock offset is added to gettimeofday, time, timespec_get and
 * clock_gettime for the wall and monotonic clocks (not CPU-time clocks). Waits
 * with an absolute deadline on those clocks (clock_nanosleep TIMER_ABSTIME,
 * pthread_cond_timedwait/clockwait, sem_timedwait/clockwait,
 * pthread_mutex_timedlock/clocklock) get the offset taken off again, or a
 * deadline computed from the moved clock would wait that much longer for
 * real.
 *
 * A plan that cannot be read or parsed ends the process with status 78 and a
 * message naming the line: running without the faults a test asked for would
 * pass it for the wrong reason.
 *
 * Heal state lives in the process: every new process starts from the plan.
 */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#define PLAN_ERROR_STATUS 78 /* EX_CONFIG */
#define MAX_TARGETS 8
#define FD_CACHE_SIZE 65536
#define NS_PER_SEC 1000000000LL

#if __GLIBC_PREREQ(2, 31)
typedef void timezone_arg;
#else
typedef struct timezone timezone_arg;
#endif

/* Off_t is 64 bits wide on the platforms this runs on, so every *64 entry
 * point is the same function as its plain twin (glibc makes them aliases too). */
_Static_assert(sizeof(off_t) == 8, "64-bit file offsets expected");

/* ---- the real functions ------------------------------------------------- */

static struct {
    int (*open)(const char*, int, ...);
    int (*openat)(int, const char*, int, ...);
    int (*open_2)(const char*, int);
    int (*openat_2)(int, const char*, int);
    int (*close)(int);
    int (*dup)(int);
    int (*dup2)(int, int);
    int (*dup3)(int, int, int);
    ssize_t (*read)(int, void*, size_t);
    ssize_t (*read_chk)(int, void*, size_t, size_t);
    ssize_t (*pread)(int, void*, size_t, off_t);
    ssize_t (*pread_chk)(int, void*, size_t, off_t, size_t);
    ssize_t (*readv)(int, const struct iovec*, int);
    off_t (*lseek)(int, off_t, int);
    ssize_t (*write)(int, const void*, size_t);
    ssize_t (*pwrite)(int, const void*, size_t, off_t);
    ssize_t (*writev)(int, const struct iovec*, int);
    int (*gettimeofday)(struct timeval*, timezone_arg*);
    int (*clock_gettime)(clockid_t, struct timespec*);
    time_t (*time)(time_t*);
    int (*timespec_get)(struct timespec*, int);
    int (*clock_nanosleep)(clockid_t, int, const struct timespec*, struct timespec*);
    int (*cond_timedwait)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
    int (*cond_clockwait)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);
    int (*mutex_timedlock)(pthread_mutex_t*, const struct timespec*);
    int (*mutex_clocklock)(pthread_mutex_t*, clockid_t, const struct timespec*);
    int (*sem_timedwait)(sem_t*, const struct timespec*);
    int (*sem_clockwait)(sem_t*, clockid_t, const struct timespec*);
} real;

static void resolve_real(void) {
#define RESOLVE(member, symbol) *(void**)(&real.member) = dlsym(RTLD_NEXT, symbol)
    RESOLVE(open, "open");
    RESOLVE(openat, "openat");
    RESOLVE(open_2, "__open_2");
    RESOLVE(openat_2, "__openat_2");
    RESOLVE(close, "close");
    RESOLVE(dup, "dup");
    RESOLVE(dup2, "dup2");
    RESOLVE(dup3, "dup3");
    RESOLVE(read, "read");
    RESOLVE(read_chk, "__read_chk");
    RESOLVE(pread, "pread");
    RESOLVE(pread_chk, "__pread_chk");
    RESOLVE(readv, "readv");
    RESOLVE(lseek, "lseek");
    RESOLVE(write, "write");
    RESOLVE(pwrite, "pwrite");
    RESOLVE(writev, "writev");
    RESOLVE(gettimeofday, "gettimeofday");
    RESOLVE(clock_gettime, "clock_gettime");
    RESOLVE(time, "time");
    RESOLVE(timespec_get, "timespec_get");
    RESOLVE(clock_nanosleep, "clock_nanosleep");
    RESOLVE(cond_timedwait, "pthread_cond_timedwait");
    RESOLVE(cond_clockwait, "pthread_cond_clockwait");
    RESOLVE(mutex_timedlock, "pthread_mutex_timedlock");
    RESOLVE(mutex_clocklock, "pthread_mutex_clocklock");
    RESOLVE(sem_timedwait, "sem_timedwait");
    RESOLVE(sem_clockwait, "sem_clockwait");
#undef RESOLVE
}

/* Until dlsym has answered (a call made from inside our own start-up), the
 * file calls go to the kernel directly. */
static ssize_t pass_read(int fd, void* buf, size_t n) {
    return real.read ? real.read(fd, buf, n) : syscall(SYS_read, fd, buf, n);
}
static ssize_t pass_pread(int fd, void* buf, size_t n, off_t offset) {
    return real.pread ? real.pread(fd, buf, n, offset) : syscall(SYS_pread64, fd, buf, n, offset);
}
static ssize_t pass_readv(int fd, const struct iovec* iov, int count) {
    return real.readv ? real.readv(fd, iov, count) : syscall(SYS_readv, fd, iov, count);
}
static ssize_t pass_write(int fd, const void* buf, size_t n) {
    return real.write ? real.write(fd, buf, n) : syscall(SYS_write, fd, buf, n);
}
static ssize_t pass_pwrite(int fd, const void* buf, size_t n, off_t offset) {
    return real.pwrite ? real.pwrite(fd, buf, n, offset)
                       : syscall(SYS_pwrite64, fd, buf, n, offset);
}
static ssize_t pass_writev(int fd, const struct iovec* iov, int count) {
    return real.writev ? real.writev(fd, iov, count) : syscall(SYS_writev, fd, iov, count);
}
static off_t pass_lseek(int fd, off_t offset, int whence) {
    return real.lseek ? real.lseek(fd, offset, whence) : syscall(SYS_lseek, fd, offset, whence);
}
static int pass_clock_gettime(clockid_t clock, struct timespec* ts) {
    return real.clock_gettime ? real.clock_gettime(clock, ts)
                              : (int)syscall(SYS_clock_gettime, clock, ts);
}

/* ---- plan and state ----------------------------------------------------- */

enum kind {
    EIO_RANGE,
    SEEKFAIL_RANGE,
    SLOW_RANGE,
    SHORT_RANGE,
    WRITEFAIL_RANGE,
    GONE_RANGE,
    STALL_RANGE
};

struct range {
    enum kind kind;
    int64_t start, end;
    int64_t value; /* microseconds for slow and stall, bytes for short, errno for gone */
    int sticky;
    char* marker; /* stall: the file that exists while a read waits */
};

/* Something that happens once, at a read of the target: the unit is pulled
 * out, or the wall clock is set. */
enum event { UNPLUG_EVENT, WALLSTEP_EVENT };

struct trigger {
    enum event event;
    int by_reads;  /* fires at read number value + 1, else at the first read reaching value */
    int64_t value; /* OFFSET or READS */
    int64_t delta; /* microseconds for wallstep, errno for unplug */
    int fired;
};
#define MAX_TRIGGERS 16

static char* targets[MAX_TARGETS];
static int target_count;
static int active; /* a plan with a target is loaded */

/* The ranges change only when a write heals an eio range. */
static pthread_mutex_t plan_lock = PTHREAD_MUTEX_INITIALIZER;
static struct range* ranges;
static size_t range_count, range_capacity;

/* Descriptors known not to be the target; anything else is checked. */
static _Atomic unsigned char fd_other[FD_CACHE_SIZE];

static atomic_llong shift_ns;      /* every moved clock: slow reads */
static atomic_llong wall_shift_ns; /* the wall clocks only: wallstep */

static struct trigger triggers[MAX_TRIGGERS]; /* under plan_lock */
static int trigger_count;
static atomic_ullong target_reads;
static atomic_int unplugged_errno; /* 0 while the unit is attached */

static atomic_ulong hits_target_opens, hits_eio, hits_seekfail, hits_slow, hits_short,
    hits_writefail, hits_gone;
static atomic_ullong healed_bytes;

static atomic_int init_state; /* 0 not started, 1 running, 2 done */
static __thread int initialising;

static int add_range(struct range r) {
    if (range_count == range_capacity) {
        size_t capacity = range_capacity ? range_capacity * 2 : 16;
        struct range* grown = realloc(ranges, capacity * sizeof *grown);
        if (grown == NULL) {
            return -1;
        }
        ranges = grown;
        range_capacity = capacity;
    }
    ranges[range_count++] = r;
    return 0;
}

static _Noreturn void plan_error(const char* plan, unsigned line, const char* what) {
    if (line > 0) {
        fprintf(stderr, "tolvarin_fault: %s:%u: %s\n", plan, line, what);
    } else {
        fprintf(stderr, "tolvarin_fault: %s: %s\n", plan, what);
    }
    _exit(PLAN_ERROR_STATUS);
}

/* Bytes: decimal or 0x-hex, optional K/M/G suffix. Leading zeros are not
 * octal. */
static int parse_number(const char* token, int64_t* out) {
    if (token == NULL || *token == '\0' || *token == '-' || *token == '+') {
        return -1;
    }
    int base = (token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) ? 16 : 10;
    char* end = NULL;
    errno = 0;
    unsigned long long value = strtoull(token, &end, base);
    if (end == token || errno != 0) {
        return -1;
    }
    unsigned long long unit = 1;
    switch (*end) {
    case 'K':
        unit = 1ULL << 10;
        ++end;
        break;
    case 'M':
        unit = 1ULL << 20;
        ++end;
        break;
    case 'G':
        unit = 1ULL << 30;
        ++end;
        break;
    default:
        break;
    }
    if (*end != '\0' || value > (unsigned long long)INT64_MAX / unit) {
        return -1;
    }
    *out = (int64_t)(value * unit);
    return 0;
}

static char* plan_relative(const char* plan, const char* path) {
    if (path[0] == '/') {
        return strdup(path);
    }
    char* copy = strdup(plan);
    char* joined = NULL;
    if (copy != NULL) {
        char* dir = realpath(dirname(copy), NULL);
        if (dir != NULL && asprintf(&joined, "%s/%s", dir, path) < 0) {
            joined = NULL;
        }
        free(dir);
        free(copy);
    }
    return joined;
}

/* The next word of a range line; a word starting with '#' ends the line. */
static char* next_word(char** save) {
    char* word = strtok_r(NULL, " \t", save);
    return word != NULL && word[0] == '#' ? NULL : word;
}

/* The errno a vanished device answers with; 0 for any other word. */
static int parse_gone_errno(const char* word) {
    if (strcmp(word, "ENODEV") == 0) {
        return ENODEV;
    }
    if (strcmp(word, "ENXIO") == 0) {
        return ENXIO;
    }
    return 0;
}

/* A signed count of microseconds: decimal, optionally with a leading sign. */
static int parse_signed(const char* token, int64_t* out) {
    if (token == NULL || *token == '\0') {
        return -1;
    }
    char* end = NULL;
    errno = 0;
    long long value = strtoll(token, &end, 10);
    if (end == token || *end != '\0' || errno != 0 || value > INT64_MAX / 1000 ||
        value < INT64_MIN / 1000) {
        return -1;
    }
    *out = value;
    return 0;
}

/* unplug (at OFFSET | after READS) [ERRNO]
 * wallstep MICROSECONDS (at OFFSET | after READS) */
static void parse_trigger(const char* plan, unsigned number, const char* keyword, char** save) {
    struct trigger t = {UNPLUG_EVENT, 0, 0, ENODEV, 0};
    if (strcmp(keyword, "wallstep") == 0) {
        t.event = WALLSTEP_EVENT;
        if (parse_signed(next_word(save), &t.delta) != 0 || t.delta == 0) {
            plan_error(plan, number, "wallstep needs a non-zero number of MICROSECONDS");
        }
    }
    char* when = next_word(save);
    if (when == NULL || (strcmp(when, "at") != 0 && strcmp(when, "after") != 0)) {
        plan_error(plan, number, "expected 'at OFFSET' or 'after READS'");
    }
    t.by_reads = strcmp(when, "after") == 0;
    if (parse_number(next_word(save), &t.value) != 0) {
        plan_error(plan, number,
                   t.by_reads ? "after needs a count of reads" : "at needs a byte offset");
    }
    char* word = next_word(save);
    if (word != NULL && t.event == UNPLUG_EVENT) {
        if ((t.delta = parse_gone_errno(word)) == 0) {
            plan_error(plan, number, "unplug takes ENODEV or ENXIO");
        }
        word = next_word(save);
    }
    if (word != NULL) {
        plan_error(plan, number, "unexpected text after the directive");
    }
    if (trigger_count == MAX_TRIGGERS) {
        plan_error(plan, number, "too many unplug and wallstep lines (at most 16)");
    }
    triggers[trigger_count++] = t;
}

static void parse_line(const char* plan, unsigned number, char* line) {
    char* save = NULL;
    char* keyword = strtok_r(line, " \t", &save);
    if (keyword == NULL || keyword[0] == '#') {
        return;
    }
    if (strcmp(keyword, "target") == 0) {
        char* path = save;
        while (path != NULL && (*path == ' ' || *path == '\t')) {
            ++path;
        }
        if (path == NULL || *path == '\0') {
            plan_error(plan, number, "target needs a path");
        }
        char* tail = path + strlen(path);
        while (tail > path && (tail[-1] == ' ' || tail[-1] == '\t')) {
            *--tail = '\0';
        }
        if (target_count == MAX_TARGETS) {
            plan_error(plan, number, "too many target lines (at most 8)");
        }
        targets[target_count] = plan_relative(plan, path);
        if (targets[target_count] == NULL) {
            plan_error(plan, number, "cannot resolve the target path");
        }
        ++target_count;
        return;
    }

    if (strcmp(keyword, "unplug") == 0 || strcmp(keyword, "wallstep") == 0) {
        parse_trigger(plan, number, keyword, &save);
        return;
    }
    if (strcmp(keyword, "gone") == 0) {
        struct range r = {GONE_RANGE, 0, 0, ENODEV, 0, NULL};
        if (parse_number(next_word(&save), &r.start) != 0 ||
            parse_number(next_word(&save), &r.end) != 0) {
            plan_error(plan, number, "expected START END as byte counts");
        }
        if (r.start >= r.end) {
            plan_error(plan, number, "START must be below END");
        }
        char* word = next_word(&save);
        if (word != NULL && (r.value = parse_gone_errno(word)) == 0) {
            plan_error(plan, number, "gone takes ENODEV or ENXIO");
        }
        if (word != NULL && next_word(&save) != NULL) {
            plan_error(plan, number, "unexpected text after the directive");
        }
        if (add_range(r) != 0) {
            plan_error(plan, number, "out of memory");
        }
        return;
    }

    static const struct {
        const char* name;
        enum kind kind;
        int with_value;
    } kinds[] = {
        {"eio", EIO_RANGE, 0},     {"seekfail", SEEKFAIL_RANGE, 0},   {"slow", SLOW_RANGE, 1},
        {"short", SHORT_RANGE, 1}, {"writefail", WRITEFAIL_RANGE, 0}, {"stall", STALL_RANGE, 1}};
    size_t k = 0;
    while (k < sizeof kinds / sizeof kinds[0] && strcmp(kinds[k].name, keyword) != 0) {
        ++k;
    }
    if (k == sizeof kinds / sizeof kinds[0]) {
        plan_error(plan, number,
                   "unknown directive (target, eio, seekfail, slow, short, writefail, gone, "
                   "unplug, wallstep, stall)");
    }

    struct range r = {kinds[k].kind, 0, 0, 0, 0, NULL};
    if (parse_number(next_word(&save), &r.start) != 0 ||
        parse_number(next_word(&save), &r.end) != 0) {
        plan_error(plan, number, "expected START END as byte counts");
    }
    if (r.start >= r.end) {
        plan_error(plan, number, "START must be below END");
    }
    if (kinds[k].with_value) {
        if (parse_number(next_word(&save), &r.value) != 0) {
            plan_error(plan, number,
                       r.kind == SHORT_RANGE  ? "short needs BYTES"
                       : r.kind == SLOW_RANGE ? "slow needs MICROSECONDS"
                                              : "stall needs MICROSECONDS");
        }
        if ((r.kind == SLOW_RANGE || r.kind == STALL_RANGE) && r.value > INT64_MAX / 1000) {
            plan_error(plan, number, "MICROSECONDS is too large");
        }
    }
    char* extra = next_word(&save);
    if (extra != NULL && r.kind == STALL_RANGE) {
        r.marker = plan_relative(plan, extra);
        if (r.marker == NULL) {
            plan_error(plan, number, "cannot resolve the marker path");
        }
        extra = next_word(&save);
    }
    if (extra != NULL && r.kind == EIO_RANGE && strcmp(extra, "sticky") == 0) {
        r.sticky = 1;
        extra = next_word(&save);
    }
    if (extra != NULL) {
        plan_error(plan, number, "unexpected text after the directive");
    }
    if (add_range(r) != 0) {
        plan_error(plan, number, "out of memory");
    }
}

static void load_plan(const char* plan) {
    FILE* file = fopen(plan, "re");
    if (file == NULL) {
        char what[256];
        snprintf(what, sizeof what, "cannot read the plan: %s", strerror(errno));
        plan_error(plan, 0, what);
    }
    char* line = NULL;
    size_t size = 0;
    unsigned number = 0;
    ssize_t length;
    while ((length = getline(&line, &size, file)) >= 0) {
        ++number;
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
            line[--length] = '\0';
        }
        parse_line(plan, number, line);
    }
    int failed = ferror(file);
    free(line);
    fclose(file);
    if (failed) {
        plan_error(plan, 0, "error while reading the plan");
    }
    if (target_count == 0 && (range_count > 0 || trigger_count > 0)) {
        plan_error(plan, 0, "the plan has ranges but no target line");
    }
    active = target_count > 0;
}

static void forget_parent_counts(void) {
    atomic_store(&hits_target_opens, 0);
    atomic_store(&hits_eio, 0);
    atomic_store(&hits_seekfail, 0);
    atomic_store(&hits_slow, 0);
    atomic_store(&hits_short, 0);
    atomic_store(&hits_writefail, 0);
    atomic_store(&hits_gone, 0);
    atomic_store(&healed_bytes, 0);
}

/* A fork must not copy the plan lock while another thread holds it. */
static void lock_for_fork(void) {
    pthread_mutex_lock(&plan_lock);
}
static void unlock_after_fork(void) {
    pthread_mutex_unlock(&plan_lock);
}
static void unlock_in_child(void) {
    pthread_mutex_unlock(&plan_lock);
    forget_parent_counts();
}

static void initialise(void) {
    resolve_real();
    const char* plan = getenv("TOLVARIN_FAULT_PLAN");
    if (plan != NULL && *plan != '\0') {
        load_plan(plan);
        pthread_atfork(lock_for_fork, unlock_after_fork, unlock_in_child);
    }
}

/* True once the library is set up; false only for calls made from inside our
 * own set-up, which then go straight to the real functions. */
static int ready(void) {
    if (atomic_load_explicit(&init_state, memory_order_acquire) == 2) {
        return 1;
    }
    if (initialising) {
        return 0;
    }
    int expected = 0;
    if (atomic_compare_exchange_strong(&init_state, &expected, 1)) {
        initialising = 1;
        initialise();
        initialising = 0;
        atomic_store_explicit(&init_state, 2, memory_order_release);
        return 1;
    }
    while (atomic_load_explicit(&init_state, memory_order_acquire) != 2) {
        sched_yield();
    }
    return 1;
}

__attribute__((constructor)) static void faultlib_start(void) {
    ready();
}

/* ---- which descriptor is the target -------------------------------------- */

static int same_object(const struct stat* a, const struct stat* b) {
    if ((S_ISBLK(a->st_mode) && S_ISBLK(b->st_mode)) ||
        (S_ISCHR(a->st_mode) && S_ISCHR(b->st_mode))) {
        return a->st_rdev == b->st_rdev;
    }
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

/* Asks the kernel each time rather than remembering identities: the target
 * may be created or replaced while the process runs, and stat and fstat are
 * safe even in a signal handler. */
static int fd_is_target_now(int fd) {
    struct stat opened, named;
    if (fstat(fd, &opened) != 0) {
        return 0;
    }
    for (int i = 0; i < target_count; ++i) {
        if (stat(targets[i], &named) == 0 && same_object(&opened, &named)) {
            return 1;
        }
    }
    return 0;
}

static int is_target(int fd) {
    if (!active || fd < 0) {
        return 0;
    }
    if (fd < FD_CACHE_SIZE && atomic_load_explicit(&fd_other[fd], memory_order_relaxed)) {
        return 0;
    }
    int target = fd_is_target_now(fd);
    if (!target && fd < FD_CACHE_SIZE) {
        atomic_store_explicit(&fd_other[fd], 1, memory_order_relaxed);
    }
    return target;
}

static void forget_fd(int fd) {
    if (fd >= 0 && fd < FD_CACHE_SIZE) {
        atomic_store_explicit(&fd_other[fd], 0, memory_order_relaxed);
    }
}

static int opened(int fd) {
    if (fd >= 0 && active) {
        int saved = errno;
        forget_fd(fd);
        if (is_target(fd)) {
            atomic_fetch_add(&hits_target_opens, 1);
        }
        errno = saved;
    }
    return fd;
}

/* ---- fault decisions ------------------------------------------------------ */

static int overlaps(const struct range* r, int64_t offset, uint64_t length) {
    return length > 0 && offset < r->end && (uint64_t)offset + length > (uint64_t)r->start;
}

struct verdict {
    int fail;      /* the errno the read fails with, or 0 */
    int64_t limit; /* most bytes the read may return, or -1 */
};

/* Waits for real, with the marker file present meanwhile (raw system calls:
 * nothing here may come back into the library). */
static void stall(int64_t micros, const char* marker) {
    if (marker != NULL) {
        long fd = syscall(SYS_openat, AT_FDCWD, marker, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            syscall(SYS_close, (int)fd);
        }
    }
    struct timespec wait = {micros / 1000000, (micros % 1000000) * 1000};
    while (syscall(SYS_nanosleep, &wait, &wait) != 0 && errno == EINTR) {
    }
    if (marker != NULL) {
        syscall(SYS_unlinkat, AT_FDCWD, marker, 0);
    }
}

/* Fires the triggers this read of [offset, offset + length), the target's
 * read number `read`, sets off. Called with plan_lock held. */
static void fire_triggers(int64_t offset, uint64_t length, unsigned long long read) {
    for (int i = 0; i < trigger_count; ++i) {
        struct trigger* t = &triggers[i];
        int now = t->by_reads ? read > (unsigned long long)t->value
                              : length > 0 && (uint64_t)offset + length > (uint64_t)t->value;
        if (t->fired || !now) {
            continue;
        }
        t->fired = 1;
        if (t->event == UNPLUG_EVENT) {
            atomic_store(&unplugged_errno, (int)t->delta);
        } else {
            atomic_fetch_add(&wall_shift_ns, t->delta * 1000);
        }
    }
}

/* The errno of a vanished unit for a call touching [offset, offset + length),
 * or 0. */
static int gone_errno(int64_t offset, uint64_t length) {
    int err = atomic_load(&unplugged_errno);
    for (size_t i = 0; i < range_count && err == 0; ++i) {
        if (ranges[i].kind == GONE_RANGE && overlaps(&ranges[i], offset, length)) {
            err = (int)ranges[i].value;
        }
    }
    return err;
}

/* The verdict on a read; its time (microseconds) goes to *delay_us for the
 * caller to spend when the read ends. */
static struct verdict judge_read_later(int64_t offset, uint64_t length, int64_t* delay_out) {
    struct verdict v = {0, -1};
    int64_t delay_us = 0;
    int64_t stall_us = 0;
    const char* marker = NULL;
    unsigned long long read = atomic_fetch_add(&target_reads, 1) + 1;
    pthread_mutex_lock(&plan_lock);
    fire_triggers(offset, length, read);
    int gone = gone_errno(offset, length);
    for (size_t i = 0; i < range_count; ++i) {
        const struct range* r = &ranges[i];
        if (r->kind == STALL_RANGE && overlaps(r, offset, length)) {
            stall_us += r->value;
            marker = r->marker != NULL ? r->marker : marker;
        }
        if (r->kind == EIO_RANGE && overlaps(r, offset, length)) {
            v.fail = EIO;
        } else if (r->kind == SLOW_RANGE && overlaps(r, offset, length)) {
            delay_us += r->value;
        } else if (r->kind == SHORT_RANGE && offset >= r->start && offset < r->end &&
                   (v.limit < 0 || r->value < v.limit)) {
            v.limit = r->value;
        }
    }
    pthread_mutex_unlock(&plan_lock);
    if (stall_us > 0) {
        stall(stall_us, marker);
    }
    *delay_out = delay_us;
    if (gone != 0) {
        v.fail = gone; /* a unit that is gone answers nothing else */
        atomic_fetch_add(&hits_gone, 1);
    } else if (v.fail) {
        atomic_fetch_add(&hits_eio, 1);
    }
    return v;
}

static void spend(int64_t delay_us) {
    if (delay_us > 0) {
        atomic_fetch_add(&shift_ns, delay_us * 1000);
        atomic_fetch_add(&hits_slow, 1);
    }
}

static struct verdict judge_read(int64_t offset, uint64_t length) {
    int64_t delay_us = 0;
    struct verdict v = judge_read_later(offset, length, &delay_us);
    spend(delay_us);
    return v;
}

static int in_kind(enum kind kind, int64_t offset, uint64_t length, int point) {
    int hit = 0;
    pthread_mutex_lock(&plan_lock);
    for (size_t i = 0; i < range_count && !hit; ++i) {
        const struct range* r = &ranges[i];
        hit = r->kind == kind &&
              (point ? offset >= r->start && offset < r->end : overlaps(r, offset, length));
    }
    pthread_mutex_unlock(&plan_lock);
    return hit;
}

/* A successful write of [offset, offset + length) makes those bytes of the
 * eio ranges readable again. */
static void heal(int64_t offset, int64_t length) {
    int64_t a = offset, b = offset + length;
    uint64_t healed = 0;
    pthread_mutex_lock(&plan_lock);
    size_t i = 0;
    while (i < range_count) {
        struct range r = ranges[i];
        if (r.kind != EIO_RANGE || r.sticky || b <= r.start || a >= r.end) {
            ++i;
            continue;
        }
        int64_t from = a > r.start ? a : r.start;
        int64_t to = b < r.end ? b : r.end;
        if (from == r.start && to == r.end) {
            ranges[i] = ranges[--range_count]; /* look at the moved one next */
            healed += (uint64_t)(to - from);
            continue;
        }
        if (from == r.start) {
            ranges[i].start = to;
        } else if (to == r.end) {
            ranges[i].end = from;
        } else {
            /* The write fell inside the range: keep both ends failing. The
             * new piece lies past the write, so meeting it again is harmless. */
            struct range rest = r;
            rest.start = to;
            if (add_range(rest) != 0) {
                ++i;
                continue; /* cannot split: leave the whole range failing */
            }
            ranges[i].end = from;
        }
        healed += (uint64_t)(to - from);
        ++i;
    }
    pthread_mutex_unlock(&plan_lock);
    if (healed > 0) {
        atomic_fetch_add(&healed_bytes, healed);
    }
}

static ssize_t fail_with(int err) {
    errno = err;
    return -1;
}

static ssize_t fail_eio(void) {
    return fail_with(EIO);
}

/* A read that returned more than a short range allows gives back the rest;
 * a read at the file offset also moves the offset back. */
static ssize_t trim(int fd, int64_t offset, ssize_t n, int64_t limit, int moves_offset) {
    if (limit < 0 || n <= limit) {
        return n;
    }
    if (moves_offset) {
        pass_lseek(fd, offset + limit, SEEK_SET);
    }
    atomic_fetch_add(&hits_short, 1);
    return (ssize_t)limit;
}

static int64_t current_offset(int fd) {
    int saved = errno;
    int64_t offset = pass_lseek(fd, 0, SEEK_CUR);
    errno = saved;
    return offset;
}

/* Where a write goes: the end of the file for a descriptor opened with
 * O_APPEND, else the current offset. */
static int64_t write_offset(int fd) {
    int saved = errno;
    int flags = fcntl(fd, F_GETFL);
    struct stat st;
    int64_t offset = (flags >= 0 && (flags & O_APPEND) != 0 && fstat(fd, &st) == 0)
                         ? (int64_t)st.st_size
                         : current_offset(fd);
    errno = saved;
    return offset;
}

static uint64_t iov_length(const struct iovec* iov, int count) {
    uint64_t total = 0;
    for (int i = 0; i < count && iov != NULL; ++i) {
        total += iov[i].iov_len;
    }
    return total;
}

/* ---- descriptors ------------------------------------------------------- */

#define MODE_ARG(flags, mode)                                                                      \
    mode_t mode = 0;                                                                               \
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {                              \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = (mode_t)va_arg(args, int);                                                          \
        va_end(args);                                                                              \
    }

int open(const char* path, int flags, ...) {
    MODE_ARG(flags, mode);
    if (!ready() || real.open == NULL) {
        return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
    }
    return opened(real.open(path, flags, mode));
}
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dir, const char* path, int flags, ...) {
    MODE_ARG(flags, mode);
    if (!ready() || real.openat == NULL) {
        return (int)syscall(SYS_openat, dir, path, flags, mode);
    }
    return opened(real.openat(dir, path, flags, mode));
}
int openat64(int dir, const char* path, int flags, ...) __attribute__((alias("openat")));

/* The checked forms that _FORTIFY_SOURCE builds call instead of open. */
int __open_2(const char* path, int flags) {
    if (!ready() || real.open_2 == NULL) {
        return open(path, flags);
    }
    return opened(real.open_2(path, flags));
}
int __open64_2(const char* path, int flags) __attribute__((alias("__open_2")));

int __openat_2(int dir, const char* path, int flags) {
    if (!ready() || real.openat_2 == NULL) {
        return openat(dir, path, flags);
    }
    return opened(real.openat_2(dir, path, flags));
}
int __openat64_2(int dir, const char* path, int flags) __attribute__((alias("__openat_2")));

int close(int fd) {
    int result = (ready() && real.close) ? real.close(fd) : (int)syscall(SYS_close, fd);
    forget_fd(fd);
    return result;
}

int dup(int fd) {
    int result = (ready() && real.dup) ? real.dup(fd) : (int)syscall(SYS_dup, fd);
    forget_fd(result);
    return result;
}

int dup2(int fd, int to) {
    int result = (ready() && real.dup2) ? real.dup2(fd, to) : (int)syscall(SYS_dup3, fd, to, 0);
    forget_fd(result);
    return result;
}

int dup3(int fd, int to, int flags) {
    int result =
        (ready() && real.dup3) ? real.dup3(fd, to, flags) : (int)syscall(SYS_dup3, fd, to, flags);
    forget_fd(result);
    return result;
}

/* ---- reads ------------------------------------------------------------- */

static ssize_t faulty_read(int fd, void* buf, size_t n) {
    int64_t offset = -1;
    if (ready() && is_target(fd)) {
        offset = current_offset(fd);
    }
    if (offset < 0) {
        return pass_read(fd, buf, n);
    }
    struct verdict v = judge_read(offset, n);
    if (v.fail) {
        return fail_with(v.fail);
    }
    return trim(fd, offset, pass_read(fd, buf, n), v.limit, 1);
}

ssize_t read(int fd, void* buf, size_t n) {
    return faulty_read(fd, buf, n);
}

ssize_t __read_chk(int fd, void* buf, size_t n, size_t size) {
    if (n > size && ready() && real.read_chk != NULL) {
        return real.read_chk(fd, buf, n, size); /* reports the overflow */
    }
    return faulty_read(fd, buf, n);
}

static ssize_t faulty_pread(int fd, void* buf, size_t n, off_t offset) {
    if (!ready() || offset < 0 || !is_target(fd)) {
        return pass_pread(fd, buf, n, offset);
    }
    struct verdict v = judge_read(offset, n);
    if (v.fail) {
        return fail_with(v.fail);
    }
    return trim(fd, offset, pass_pread(fd, buf, n, offset), v.limit, 0);
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    return faulty_pread(fd, buf, n, offset);
}
ssize_t pread64(int fd, void* buf, size_t n, off_t offset) __attribute__((alias("pread")));

ssize_t __pread_chk(int fd, void* buf, size_t n, off_t offset, size_t size) {
    if (n > size && ready() && real.pread_chk != NULL) {
        return real.pread_chk(fd, buf, n, offset, size);
    }
    return faulty_pread(fd, buf, n, offset);
}
ssize_t __pread64_chk(int fd, void* buf, size_t n, off_t offset, size_t size)
    __attribute__((alias("__pread_chk")));

ssize_t readv(int fd, const struct iovec* iov, int count) {
    int64_t offset = -1;
    if (ready() && is_target(fd)) {
        offset = current_offset(fd);
    }
    if (offset < 0) {
        return pass_readv(fd, iov, count);
    }
    struct verdict v = judge_read(offset, iov_length(iov, count));
    if (v.fail) {
        return fail_with(v.fail);
    }
    return trim(fd, offset, pass_readv(fd, iov, count), v.limit, 1);
}

/* ---- seeks ------------------------------------------------------------- */

off_t lseek(int fd, off_t offset, int whence) {
    int asks_only = whence == SEEK_CUR && offset == 0;
    if (!ready() || asks_only || !is_target(fd)) {
        return pass_lseek(fd, offset, whence);
    }
    off_t before = current_offset(fd);
    off_t after = pass_lseek(fd, offset, whence);
    if (after >= 0 && before >= 0 && in_kind(SEEKFAIL_RANGE, after, 0, 1)) {
        pass_lseek(fd, before, SEEK_SET);
        atomic_fetch_add(&hits_seekfail, 1);
        return fail_eio();
    }
    return after;
}
off_t lseek64(int fd, off_t offset, int whence) __attribute__((alias("lseek")));

/* ---- writes ------------------------------------------------------------ */

/* Whether a write of [offset, offset + length) may go ahead. */
static int write_allowed(int64_t offset, uint64_t length) {
    pthread_mutex_lock(&plan_lock);
    int gone = gone_errno(offset, length);
    pthread_mutex_unlock(&plan_lock);
    if (gone != 0) {
        atomic_fetch_add(&hits_gone, 1);
        errno = gone;
        return 0;
    }
    if (in_kind(WRITEFAIL_RANGE, offset, length, 0)) {
        atomic_fetch_add(&hits_writefail, 1);
        errno = EIO;
        return 0;
    }
    return 1;
}

static ssize_t healing(int64_t offset, ssize_t written) {
    if (written > 0) {
        heal(offset, written);
    }
    return written;
}

ssize_t write(int fd, const void* buf, size_t n) {
    int64_t offset = -1;
    if (ready() && is_target(fd)) {
        offset = write_offset(fd);
    }
    if (offset < 0) {
        return pass_write(fd, buf, n);
    }
    if (!write_allowed(offset, n)) {
        return -1;
    }
    return healing(offset, pass_write(fd, buf, n));
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    if (!ready() || offset < 0 || !is_target(fd)) {
        return pass_pwrite(fd, buf, n, offset);
    }
    if (!write_allowed(offset, n)) {
        return -1;
    }
    return healing(offset, pass_pwrite(fd, buf, n, offset));
}
ssize_t pwrite64(int fd, const void* buf, size_t n, off_t offset) __attribute__((alias("pwrite")));

ssize_t writev(int fd, const struct iovec* iov, int count) {
    int64_t offset = -1;
    if (ready() && is_target(fd)) {
        offset = write_offset(fd);
    }
    if (offset < 0) {
        return pass_writev(fd, iov, count);
    }
    if (!write_allowed(offset, iov_length(iov, count))) {
        return -1;
    }
    return healing(offset, pass_writev(fd, iov, count));
}

/* ---- the clock ------------------------------------------------------------ */

static int moved_clock(clockid_t clock) {
    switch (clock) {
    case CLOCK_REALTIME:
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_REALTIME_COARSE:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME:
    case CLOCK_REALTIME_ALARM:
    case CLOCK_BOOTTIME_ALARM:
    case CLOCK_TAI:
        return 1;
    default:
        return 0;
    }
}

/* The clocks a wallstep moves: those that tell the time of day. */
static int wall_clock(clockid_t clock) {
    return clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE ||
           clock == CLOCK_REALTIME_ALARM || clock == CLOCK_TAI;
}

static int64_t current_shift(void) {
    return atomic_load_explicit(&shift_ns, memory_order_relaxed);
}

/* What the library adds to a reading of clock. */
static int64_t shift_of(clockid_t clock) {
    if (!moved_clock(clock)) {
        return 0;
    }
    int64_t shift = current_shift();
    if (wall_clock(clock)) {
        shift += atomic_load_explicit(&wall_shift_ns, memory_order_relaxed);
    }
    return shift;
}

/* glibc marks these arguments nonnull, yet a caller may pass NULL and get
 * EFAULT from the kernel; never touch it then. */
static int given(const void* pointer) {
    return pointer != NULL;
}

static void add_ns(struct timespec* ts, int64_t ns) {
    ts->tv_sec += (time_t)(ns / NS_PER_SEC);
    ts->tv_nsec += (long)(ns % NS_PER_SEC);
    if (ts->tv_nsec >= NS_PER_SEC) {
        ts->tv_nsec -= NS_PER_SEC;
        ++ts->tv_sec;
    } else if (ts->tv_nsec < 0) {
        ts->tv_nsec += NS_PER_SEC;
        --ts->tv_sec;
    }
}

int clock_gettime(clockid_t clock, struct timespec* ts) {
    int result = pass_clock_gettime(clock, ts);
    if (result == 0 && given(ts) && moved_clock(clock) && ready()) {
        int64_t shift = shift_of(clock);
        if (shift != 0) {
            add_ns(ts, shift);
        }
    }
    return result;
}

int gettimeofday(struct timeval* tv, timezone_arg* tz) {
    int result =
        real.gettimeofday ? real.gettimeofday(tv, tz) : (int)syscall(SYS_gettimeofday, tv, tz);
    if (result == 0 && given(tv) && ready()) {
        int64_t shift = shift_of(CLOCK_REALTIME);
        if (shift != 0) {
            struct timespec ts = {tv->tv_sec, tv->tv_usec * 1000};
            add_ns(&ts, shift);
            tv->tv_sec = ts.tv_sec;
            tv->tv_usec = ts.tv_nsec / 1000;
        }
    }
    return result;
}

time_t time(time_t* out) {
    if (ready() && shift_of(CLOCK_REALTIME) == 0 && real.time != NULL) {
        return real.time(out);
    }
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
        return (time_t)-1;
    }
    if (out != NULL) {
        *out = ts.tv_sec;
    }
    return ts.tv_sec;
}

int timespec_get(struct timespec* ts, int base) {
    if (base != TIME_UTC) {
        return (ready() && real.timespec_get) ? real.timespec_get(ts, base) : 0;
    }
    return clock_gettime(CLOCK_REALTIME, ts) == 0 ? base : 0;
}

/* A deadline read off the moved clock, put back on the kernel's. */
static const struct timespec* unmoved(clockid_t clock, const struct timespec* deadline,
                                      struct timespec* scratch) {
    int64_t shift = shift_of(clock);
    if (shift == 0 || deadline == NULL || deadline->tv_nsec < 0 ||
        deadline->tv_nsec >= NS_PER_SEC) {
        return deadline;
    }
    *scratch = *deadline;
    add_ns(scratch, -shift);
    if (scratch->tv_sec < 0) {
        scratch->tv_sec = 0;
        scratch->tv_nsec = 0;
    }
    return scratch;
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                    struct timespec* remain) {
    if (!ready() || real.clock_nanosleep == NULL) {
        return ENOSYS;
    }
    struct timespec scratch;
    if (flags & TIMER_ABSTIME) {
        request = unmoved(clock, request, &scratch);
    }
    return real.clock_nanosleep(clock, flags, request, remain);
}

int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex,
                           const struct timespec* deadline) {
    if (!ready() || real.cond_timedwait == NULL) {
        return ENOSYS;
    }
    /* The deadline is on the condition's own clock: glibc keeps
     * CLOCK_MONOTONIC (pthread_condattr_setclock) as bit 1 of __wrefs. */
    clockid_t clock = (cond->__data.__wrefs & 2) ? CLOCK_MONOTONIC : CLOCK_REALTIME;
    struct timespec scratch;
    return real.cond_timedwait(cond, mutex, unmoved(clock, deadline, &scratch));
}

int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t clock,
                           const struct timespec* deadline) {
    if (!ready() || real.cond_clockwait == NULL) {
        return ENOSYS;
    }
    struct timespec scratch;
    return real.cond_clockwait(cond, mutex, clock, unmoved(clock, deadline, &scratch));
}

int pthread_mutex_timedlock(pthread_mutex_t* mutex, const struct timespec* deadline) {
    if (!ready() || real.mutex_timedlock == NULL) {
        return ENOSYS;
    }
    struct timespec scratch;
    return real.mutex_timedlock(mutex, unmoved(CLOCK_REALTIME, deadline, &scratch));
}

int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                            const struct timespec* deadline) {
    if (!ready() || real.mutex_clocklock == NULL) {
        return ENOSYS;
    }
    struct timespec scratch;
    return real.mutex_clocklock(mutex, clock, unmoved(clock, deadline, &scratch));
}

int sem_timedwait(sem_t* sem, const struct timespec* deadline) {
    if (!ready() || real.sem_timedwait == NULL) {
        errno = ENOSYS;
        return -1;
    }
    struct timespec scratch;
    return real.sem_timedwait(sem, unmoved(CLOCK_REALTIME, deadline, &scratch));
}

int sem_clockwait(sem_t* sem, clockid_t clock, const struct timespec* deadline) {
    if (!ready() || real.sem_clockwait == NULL) {
        errno = ENOSYS;
        return -1;
    }
    struct timespec scratch;
    return real.sem_clockwait(sem, clock, unmoved(clock, deadline, &scratch));
}

/* ---- summary at exit ----------------------------------------------------- */

__attribute__((destructor)) static void faultlib_report(void) {
    const char* path = getenv("TOLVARIN_FAULT_REPORT");
    if (!active || path == NULL || *path == '\0') {
        return;
    }
    unsigned long opens = atomic_load(&hits_target_opens), eio = atomic_load(&hits_eio),
                  seekfail = atomic_load(&hits_seekfail), slow = atomic_load(&hits_slow),
                  shorts = atomic_load(&hits_short), writefail = atomic_load(&hits_writefail),
                  gone = atomic_load(&hits_gone);
    unsigned long long healed = atomic_load(&healed_bytes);
    if (opens + eio + seekfail + slow + shorts + writefail + healed + gone == 0) {
        return;
    }
    char line[512];
    int length = snprintf(
        line, sizeof line,
        "tolvarin_fault pid=%ld target_opens=%lu eio=%lu seekfail=%lu slow=%lu "
        "shift_us=%lld short=%lu writefail=%lu healed_bytes=%llu gone=%lu wallstep_us=%lld\n",
        (long)getpid(), opens, eio, seekfail, slow, (long long)(current_shift() / 1000), shorts,
        writefail, healed, gone, (long long)(atomic_load(&wall_shift_ns) / 1000));
    int fd = real.open
                 ? real.open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644)
                 : -1;
    if (fd >= 0) {
        /* One write per line keeps lines of processes sharing the file whole. */
        if (pass_write(fd, line, (size_t)length) != length) {
            fprintf(stderr, "tolvarin_fault: cannot write the report to %s\n", path);
        }
        if (real.close != NULL) {
            real.close(fd);
        }
    } else {
        fprintf(stderr, "tolvarin_fault: cannot open the report %s: %s\n", path, strerror(errno));
    }
}

/* ---- io_uring ---------------------------------------------------------------
 * Queued reads reach the kernel without a read call. The library sees them
 * where liburing hands them over and back: io_uring_submit and
 * io_uring_submit_and_wait (the reads of the target are judged, by their
 * offsets) and __io_uring_get_cqe (a judged read's
 * completion gets its verdict: the errno, the shorter length, the time). A
 * slow read is handed out after every other read in flight, as a device
 * serves the reads beside a slow one meanwhile, so only its own time grows. */
#if __has_include(<liburing.h>)
#include <liburing.h>

#define URING_TRACKED 256

struct uring_read {
    const struct io_uring* ring;
    uint64_t tag;
    struct verdict verdict;
    int64_t delay_us;
    int used;
};

static struct uring_read uring_reads[URING_TRACKED];
static pthread_mutex_t uring_lock = PTHREAD_MUTEX_INITIALIZER;

static int (*real_uring_submit)(struct io_uring*);
static int (*real_uring_submit_and_wait)(struct io_uring*, unsigned);
static int (*real_uring_get_cqe)(struct io_uring*, struct io_uring_cqe**, unsigned, unsigned,
                                 sigset_t*);

static void resolve_uring(void) {
    if (real_uring_submit == NULL) {
        *(void**)(&real_uring_submit) = dlsym(RTLD_NEXT, "io_uring_submit");
        *(void**)(&real_uring_submit_and_wait) = dlsym(RTLD_NEXT, "io_uring_submit_and_wait");
        *(void**)(&real_uring_get_cqe) = dlsym(RTLD_NEXT, "__io_uring_get_cqe");
    }
}

/* Called with uring_lock held. */
static struct uring_read* uring_find(const struct io_uring* ring, uint64_t tag) {
    for (int i = 0; i < URING_TRACKED; ++i) {
        if (uring_reads[i].used && uring_reads[i].ring == ring && uring_reads[i].tag == tag) {
            return &uring_reads[i];
        }
    }
    return NULL;
}

static unsigned uring_in_flight(const struct io_uring* ring) {
    unsigned n = 0;
    for (int i = 0; i < URING_TRACKED; ++i) {
        n += uring_reads[i].used && uring_reads[i].ring == ring;
    }
    return n;
}

/* Judges the reads of the target queued since the last submission. */
static void judge_submissions(struct io_uring* ring) {
    if (!ready() || !active) {
        return;
    }
    for (unsigned i = ring->sq.sqe_head; i != ring->sq.sqe_tail; ++i) {
        const struct io_uring_sqe* sqe = &ring->sq.sqes[i & ring->sq.ring_mask];
        if ((sqe->opcode != IORING_OP_READ && sqe->opcode != IORING_OP_READ_FIXED) ||
            !is_target(sqe->fd)) {
            continue;
        }
        struct uring_read r = {ring, sqe->user_data, {0, -1}, 0, 1};
        r.verdict = judge_read_later((int64_t)sqe->off, sqe->len, &r.delay_us);
        pthread_mutex_lock(&uring_lock);
        for (int k = 0; k < URING_TRACKED; ++k) {
            if (!uring_reads[k].used) {
                uring_reads[k] = r;
                break;
            }
        }
        pthread_mutex_unlock(&uring_lock);
    }
}

int io_uring_submit(struct io_uring* ring) {
    resolve_uring();
    judge_submissions(ring);
    return real_uring_submit(ring);
}

int io_uring_submit_and_wait(struct io_uring* ring, unsigned wait_nr) {
    resolve_uring();
    judge_submissions(ring);
    return real_uring_submit_and_wait(ring, wait_nr);
}

int __io_uring_get_cqe(struct io_uring* ring, struct io_uring_cqe** cqe_ptr, unsigned submit,
                       unsigned wait_nr, sigset_t* sigmask) {
    resolve_uring();
    int rc = real_uring_get_cqe(ring, cqe_ptr, submit, wait_nr, sigmask);
    if (rc != 0 || *cqe_ptr == NULL || !active) {
        return rc;
    }
    pthread_mutex_lock(&uring_lock);
    struct uring_read* r = uring_find(ring, (*cqe_ptr)->user_data);
    unsigned others = 0;
    while (r != NULL && r->delay_us > 0 && (others = uring_in_flight(ring) - 1) > 0) {
        /* Wait for the judged reads beside it, then put the slow one last. */
        unsigned head = *ring->cq.khead;
        unsigned tail = __atomic_load_n(ring->cq.ktail, __ATOMIC_ACQUIRE);
        if (tail - head < others + 1) {
            pthread_mutex_unlock(&uring_lock);
            rc = real_uring_get_cqe(ring, cqe_ptr, 0, others + 1, NULL);
            pthread_mutex_lock(&uring_lock);
            if (rc != 0) {
                break;
            }
            tail = __atomic_load_n(ring->cq.ktail, __ATOMIC_ACQUIRE);
        }
        unsigned mask = ring->cq.ring_mask;
        struct io_uring_cqe slow = ring->cq.cqes[head & mask];
        for (unsigned i = head; i + 1 != tail; ++i) {
            ring->cq.cqes[i & mask] = ring->cq.cqes[(i + 1) & mask];
        }
        ring->cq.cqes[(tail - 1) & mask] = slow;
        *cqe_ptr = &ring->cq.cqes[head & mask];
        r = uring_find(ring, (*cqe_ptr)->user_data);
        if (r != NULL && r->delay_us > 0) {
            break; /* only slow ones are left: they take their turns */
        }
    }
    if (r != NULL) {
        struct io_uring_cqe* cqe = *cqe_ptr;
        spend(r->delay_us);
        if (r->verdict.fail) {
            cqe->res = -r->verdict.fail;
        } else if (r->verdict.limit >= 0 && cqe->res > r->verdict.limit) {
            cqe->res = (int)r->verdict.limit;
            atomic_fetch_add(&hits_short, 1);
        }
        r->used = 0;
    }
    pthread_mutex_unlock(&uring_lock);
    return rc;
}
#endif
