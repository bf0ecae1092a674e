#include "CDiagnosticsLog.h"

#include "Log.h"
#include "Platform.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void FfmpegToLog(void* context, int level, const char* format, va_list args) {
    if (level > av_log_get_level())
        return;
    thread_local int printPrefix = 1;
    char line[2048];
    av_log_format_line2(context, level, format, args, line, sizeof(line), &printPrefix);
    fputs(line, stdout);
}

int OpenLogFile(const std::string& path, std::string& problem) {
    std::error_code ignored;
    const std::filesystem::path file(path);
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size > CDiagnosticsLog::kRotateBytes)
        rename(path.c_str(), (path + ".1").c_str());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        problem = "cannot write the log " + path + ": " + strerror(errno) +
                  "; diagnostics go to standard error";
    return fd;
}

} // namespace

std::string CDiagnosticsLog::DefaultPath() {
    const char* state = getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/vyrk2mp4/vyrk2mp4.log";
    const char* home = getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/vyrk2mp4/vyrk2mp4.log";
    return "/tmp/vyrk2mp4-" + std::to_string(getuid()) + ".log";
}

FILE* CDiagnosticsLog::Open(const std::string& path, std::string& problem) {
    fflush(stdout);
    const int reportFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* report = reportFd >= 0 ? fdopen(reportFd, "w") : nullptr;
    if (!report)
        return nullptr;
    const int logFd = path.empty() ? -1 : OpenLogFile(path, problem);
    m_path = logFd >= 0 ? path : "";
    m_failed = !path.empty() && logFd < 0;
    dup2(logFd >= 0 ? logFd : STDERR_FILENO, STDOUT_FILENO);
    if (logFd >= 0)
        close(logFd);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    av_log_set_callback(FfmpegToLog);
    Platform::SetUserMessageHandler([](const std::string& text, const std::string&) {
        printf("%s\n", text.c_str());
        fflush(stdout);
    });
    return report;
}

int CDiagnosticsLog::WriteLine(const std::string& line) {
    errno = 0;
    LogInfo("%s", line.c_str());
    // A failed write marks the stream; the write of this line, when it failed, set errno last.
    const int error = errno != 0 ? errno : EIO;
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : error;
}

std::string CDiagnosticsLog::Problem(int error) const {
    return "cannot write the log " + m_path + ": " + strerror(error);
}

std::string CDiagnosticsLog::Begin(const std::string& line) {
    const int error = WriteLine(line);
    if (error == 0 || m_path.empty())
        return "";
    const std::string problem = Problem(error) + "; diagnostics go to standard error";
    m_failed = true;
    m_path.clear();
    dup2(STDERR_FILENO, STDOUT_FILENO);
    clearerr(stdout);
    LogInfo("%s", line.c_str());
    return problem;
}

std::string CDiagnosticsLog::Finish(const std::string& line) {
    const int error = WriteLine(line);
    if (error == 0 || m_path.empty())
        return "";
    m_failed = true;
    return Problem(error);
}
