#include "probe.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

// glibc's own entry points; the replacements below forward to them.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

// Initial-exec: the counters must be usable from malloc while a thread is still being set up.
__attribute__((tls_model("initial-exec"))) thread_local std::uint64_t t_allocations = 0;
__attribute__((tls_model("initial-exec"))) thread_local std::uint64_t t_opens = 0;

int openFile(int directory, const char* path, int flags, mode_t mode)
{
    ++t_opens;
    return static_cast<int>(syscall(SYS_openat, directory, path, flags, mode));
}

mode_t modeArgument(int flags, std::va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

template <typename Function>
Function nextSymbol(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void* malloc(std::size_t size)
{
    ++t_allocations;
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    ++t_allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size)
{
    ++t_allocations;
    return __libc_realloc(pointer, size);
}

void free(void* pointer)
{
    __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    ++t_allocations;
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    ++t_allocations;
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size)
{
    ++t_allocations;
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *result = pointer;
    return 0;
}

int open(const char* path, int flags, ...)
{
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(AT_FDCWD, path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...)
{
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...)
{
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(directory, path, flags, mode);
}

// The forms _FORTIFY_SOURCE builds call.
int __open_2(const char* path, int flags)
{
    return openFile(AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags)
{
    return openFile(AT_FDCWD, path, flags, 0);
}

int __openat_2(int directory, const char* path, int flags)
{
    return openFile(directory, path, flags, 0);
}

int __openat64_2(int directory, const char* path, int flags)
{
    return openFile(directory, path, flags, 0);
}

// stdio opens its files inside glibc, out of reach of the replacements above.
FILE* fopen(const char* path, const char* mode)
{
    using Fopen = FILE* (*)(const char*, const char*);
    static const auto next = nextSymbol<Fopen>("fopen");
    ++t_opens;
    return next(path, mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    using Fopen = FILE* (*)(const char*, const char*);
    static const auto next = nextSymbol<Fopen>("fopen64");
    ++t_opens;
    return next(path, mode);
}

}  // extern "C"

namespace vantrel::bench {

Probe::Probe() : m_start{t_allocations, t_opens} {}

Probe::~Probe() = default;

ProbeCounts Probe::counts() const
{
    return {t_allocations - m_start.allocations, t_opens - m_start.opens};
}

bool ProbeWorks()
{
    const Probe probe;
    void* volatile pointer = std::malloc(16);
    std::free(pointer);
    return probe.counts().allocations == 1;
}

}  // namespace vantrel::bench
