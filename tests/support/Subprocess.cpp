#include "Subprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In a forked child: becomes the program, or ends with 127.
[[noreturn]] void Exec(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

} // namespace

SubprocessResult RunProgram(const std::vector<std::string>& argv) {
    SubprocessResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        Exec(argv);
    }
    close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof(buffer))) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    result.exitCode = WaitProgram(pid);
    return result;
}

int StartProgram(const std::vector<std::string>& argv, const std::string& stdoutPath,
                 const std::string& stderrPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0)
            _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        Exec(argv);
    }
    return pid;
}

int WaitProgram(int pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string BinPath(const std::string& name) {
    return std::string(VYRK_BIN_DIR) + "/" + name;
}

std::string MakeSample(const std::string& path, const std::vector<std::string>& options) {
    std::vector<std::string> argv = {BinPath("vyrk-sample"), "-o", path};
    argv.insert(argv.end(), options.begin(), options.end());
    const SubprocessResult r = RunProgram(argv);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}
