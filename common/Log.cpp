#include "Log.h"

#include "CLockGuard.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

Thread::Lock::CCriticalLock g_logLock;

namespace {

const size_t kMessageBufferSize = 10240;
const size_t kTimeBufferSize = 1024;

void WriteLine(const char* lineFormat, const char* format, va_list args) {
    std::string timeText = GetCurrentTimeString();
    char message[kMessageBufferSize];
    vsnprintf(message, sizeof(message), format, args);

    Thread::Lock::CLockGuard guard(&g_logLock);
    fprintf(stdout, lineFormat, timeText.c_str(), message);
    fflush(stdout);
}

} // namespace

std::string GetCurrentTimeString() {
    char buffer[kTimeBufferSize] = {};
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buffer);
}

void LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine("[ERROR][%s] -> %s\n", format, args);
    va_end(args);
}

void LogInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine("[INFO][%s] -> %s\n", format, args);
    va_end(args);
}

void LogDebug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine("[DEBUG][%s] -> %s\n", format, args);
    va_end(args);
}
