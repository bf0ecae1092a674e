#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

namespace {

std::mutex g_handlerMutex;
UserMessageHandler g_handler;

UserMessageHandler CurrentHandler() {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    return g_handler;
}

} // namespace

void SetUserMessageHandler(UserMessageHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = std::move(handler);
}

void ShowUserMessage(const std::string& text, const std::string& caption) {
    UserMessageHandler handler = CurrentHandler();
    if (handler) {
        handler(text, caption);
        return;
    }
    fprintf(stderr, "%s\n", text.c_str());
    (void)caption;
}

bool CreateDirectoryOneLevel(const std::string& path) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        return false;
    return mkdir(dir.c_str(), 0777) == 0;
}

void SleepMs(unsigned milliseconds) {
    struct timespec rest;
    rest.tv_sec = milliseconds / 1000;
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace Platform
