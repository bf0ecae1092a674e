// vyrk2mp4: converts .Vyrk recordings into one folder of MP4 files each, without a window.
// For a recording DIR/NAME.EXT the files go to OUT/NAME/0.mp4, 1.mp4, ... where OUT is the
// folder given with -o (created with its parents) or else the recording's own folder.

#include "CVyrkConverter.h"
#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

bool MakePath(const std::string& path) {
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            partial = path.substr(0, i);
            if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file name up to its first '.'.
std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find('.'));
}

bool Convert(const std::string& input, const std::string& outDir) {
    const std::string prefix =
        (outDir.empty() ? DirectoryOf(input) : outDir) + "/" + BaseName(input) + "/";
    Platform::CreateDirectoryOneLevel(prefix);
    CVyrkConverter converter;
    if (!converter.Init(input, prefix))
        return false;
    if (!converter.Start()) {
        fprintf(stderr, "vyrk2mp4: %s: cannot start reading\n", input.c_str());
        return false;
    }
    while (!converter.IsFinished())
        Platform::SleepMs(10);
    bool ok = true;
    printf("\n%s:\n", input.c_str());
    for (int ch = 0; ch < converter.GetChannelSlots(); ++ch) {
        const char* state = "no video, no file";
        switch (converter.GetChannelResult(ch)) {
        case CVyrkConverter::ChannelResult::Written:
            state = "written";
            break;
        case CVyrkConverter::ChannelResult::Failed:
            state = "FAILED";
            ok = false;
            break;
        case CVyrkConverter::ChannelResult::None:
            break;
        }
        printf("  channel %d: %s%d.mp4 %s\n", ch, prefix.c_str(), ch, state);
    }
    fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    std::string outDir;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            outDir = argv[++i];
        else if (argv[i][0] == '-') {
            inputs.clear();
            break;
        } else
            inputs.push_back(argv[i]);
    }
    if (inputs.empty()) {
        fprintf(stderr, "usage: vyrk2mp4 [-o OUTPUT_DIR] RECORDING.Vyrk...\n");
        return 2;
    }
    if (!outDir.empty() && !MakePath(outDir)) {
        fprintf(stderr, "vyrk2mp4: output folder %s does not exist and cannot be created\n",
                outDir.c_str());
        return 1;
    }
    bool ok = true;
    for (const std::string& input : inputs)
        ok = Convert(input, outDir) && ok;
    return ok ? 0 : 1;
}
