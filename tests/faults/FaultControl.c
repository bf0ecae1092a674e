// Preloaded in front of libfiu's POSIX preload (LD_PRELOAD=libvyrk_fault_control.so:
// fiu_posix_preload.so): fails exactly one chosen call of one libc function, so a run can be
// repeated call for call. Calls are counted only while the program's main runs: what the
// dynamic loader, libc's start-up and the libraries' constructors do before main, and what
// exit handlers do after it, is neither counted nor failed. main is reached by standing in for
// __libc_start_main, which the program's start code calls through the dynamic linker.
//
// Environment:
//   VYRK_FAULT_POINTS  libfiu failure point names, comma-separated (posix/io/rw/write, ...)
//   VYRK_FAULT_AT      the call of the first point that fails, counted from 1; 0 or unset:
//                      only count
//   VYRK_FAULT_ERRNO   the errno that call leaves (libfiu's wrappers take it from failinfo)
//   VYRK_FAULT_COUNTS  a file that receives, once main ends, a line "NAME CALLS" per point and,
//                      when the fault was injected, "fired NAME CALL"
// The failing call's stack goes to standard error as backtrace_symbols_fd prints it.
//
// libfiu has no point for posix_memalign, through which FFmpeg's av_malloc allocates; this
// library adds one, "libc/mm/posix_memalign", steered like the others.

#define _GNU_SOURCE
#define FIU_ENABLE 1 // fiu.h declares fiu_fail() only then
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <fiu-control.h>
#include <fiu.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kMaxPoints = 16, kNameSize = 64, kMaxFrames = 48 };

typedef int (*MainFunction)(int, char**, char**);
typedef int (*StartMainFunction)(MainFunction, int, char**, void*, void (*)(void), void (*)(void),
                                 void*);

static char g_names[kMaxPoints][kNameSize];
static int g_pointCount;
static long g_failAt;
static int g_failErrno;
static atomic_long g_calls[kMaxPoints];
static atomic_long g_fired;
static atomic_int g_armed;
static MainFunction g_main;

static int PointIndex(const char* name) {
    for (int i = 0; i < g_pointCount; ++i)
        if (strcmp(g_names[i], name) == 0)
            return i;
    return -1;
}

static void PrintFailingStack(const char* name, long call) {
    char line[160];
    const int n = snprintf(line, sizeof(line), "fault: failing call %ld of %s with errno %d (%s)\n",
                           call, name, g_failErrno, strerror(g_failErrno));
    if (write(STDERR_FILENO, line, (size_t)n) < 0)
        return;
    void* frames[kMaxFrames];
    backtrace_symbols_fd(frames, backtrace(frames, kMaxFrames), STDERR_FILENO);
}

// libfiu asks this on every call of an enabled point; several threads may ask at once.
static int FailChosenCall(const char* name, int* failnum, void** failinfo, unsigned int* flags) {
    (void)failnum;
    (void)failinfo;
    (void)flags;
    if (!atomic_load(&g_armed))
        return 0;
    const int point = PointIndex(name);
    if (point < 0)
        return 0;
    const long call = atomic_fetch_add(&g_calls[point], 1) + 1;
    if (point != 0 || call != g_failAt)
        return 0;
    atomic_store(&g_fired, call);
    PrintFailingStack(name, call);
    return 1;
}

int posix_memalign(void** memory, size_t alignment, size_t size) {
    typedef int (*AlignedAllocation)(void**, size_t, size_t);
    static _Atomic(AlignedAllocation) next;
    if (!atomic_load(&next))
        atomic_store(&next, (AlignedAllocation)dlsym(RTLD_NEXT, "posix_memalign"));
    if (fiu_fail("libc/mm/posix_memalign"))
        return g_failErrno;
    return atomic_load(&next)(memory, alignment, size);
}

static void ReadPoints(void) {
    const char* list = getenv("VYRK_FAULT_POINTS");
    for (const char* at = list; at && *at && g_pointCount < kMaxPoints;) {
        const size_t length = strcspn(at, ",");
        if (length > 0 && length < kNameSize) {
            memcpy(g_names[g_pointCount], at, length);
            g_names[g_pointCount++][length] = '\0';
        }
        at += length + (at[length] == ',');
    }
    const char* failAt = getenv("VYRK_FAULT_AT");
    const char* failErrno = getenv("VYRK_FAULT_ERRNO");
    g_failAt = failAt ? atol(failAt) : 0;
    g_failErrno = failErrno ? atoi(failErrno) : EIO;
}

static void EnablePoints(void) {
    ReadPoints();
    if (g_pointCount == 0 || fiu_init(0) != 0)
        return;
    for (int i = 0; i < g_pointCount; ++i) {
        void* info = i == 0 ? (void*)(intptr_t)g_failErrno : NULL;
        if (fiu_enable_external(g_names[i], 1, info, 0, FailChosenCall) != 0)
            fprintf(stderr, "fault: cannot enable %s\n", g_names[i]);
    }
}

static void WriteCounts(void) {
    const char* path = getenv("VYRK_FAULT_COUNTS");
    if (!path)
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char text[kMaxPoints * (kNameSize + 24) + 96];
    int used = 0;
    for (int i = 0; i < g_pointCount; ++i)
        used += snprintf(text + used, sizeof(text) - (size_t)used, "%s %ld\n", g_names[i],
                         atomic_load(&g_calls[i]));
    if (atomic_load(&g_fired) != 0)
        used += snprintf(text + used, sizeof(text) - (size_t)used, "fired %s %ld\n", g_names[0],
                         atomic_load(&g_fired));
    if (write(fd, text, (size_t)used) != used)
        fprintf(stderr, "fault: cannot write %s\n", path);
    close(fd);
}

static void Disarm(void) {
    if (atomic_exchange(&g_armed, 0))
        WriteCounts();
}

// A crash prints where it happened ("crash: signal N", then the stack), and the signal's own
// action follows: the handler is reset, and the faulting instruction runs again.
static void PrintCrash(int signal) {
    char line[32];
    const int length = snprintf(line, sizeof(line), "crash: signal %d\n", signal);
    if (write(STDERR_FILENO, line, (size_t)length) < 0)
        return;
    void* frames[kMaxFrames];
    backtrace_symbols_fd(frames, backtrace(frames, kMaxFrames), STDERR_FILENO);
}

static void WatchCrashes(void) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = PrintCrash;
    action.sa_flags = (int)SA_RESETHAND;
    sigaction(SIGSEGV, &action, NULL);
    sigaction(SIGBUS, &action, NULL);
    sigaction(SIGABRT, &action, NULL);
}

static int ArmedMain(int argc, char** argv, char** envp) {
    void* frames[1];
    backtrace(frames, 1); // loads the unwinder now rather than inside the failing call
    WatchCrashes();
    atexit(Disarm); // also when main calls exit()
    atomic_store(&g_armed, 1);
    const int status = g_main(argc, argv, envp);
    Disarm();
    return status;
}

int __libc_start_main(MainFunction main, int argc, char** argv, void* init, void (*fini)(void),
                      void (*rtldFini)(void), void* stackEnd) {
    StartMainFunction next = (StartMainFunction)dlsym(RTLD_NEXT, "__libc_start_main");
    EnablePoints();
    g_main = main;
    return next(ArmedMain, argc, argv, init, fini, rtldFini, stackEnd);
}
