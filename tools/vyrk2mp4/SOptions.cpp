#include "SOptions.h"

#include <cstring>

const char* const kUsage =
    "Usage: vyrk2mp4 [OPTION]... RECORDING.Vyrk...\n"
    "Converts each recording into a folder of MP4 files, one per camera channel: the video\n"
    "copied as recorded, the audio encoded to AAC. DIR/NAME.EXT goes to OUT/NAME/0.mp4,\n"
    "1.mp4, ... where NAME ends at the first '.' and OUT is DIR unless -o is given. When that\n"
    "folder is taken by another recording of the call, holds another recording's files, or is\n"
    "being written by another conversion, NAME without its extension is used, then with _2,\n"
    "_3, ... appended. Once a recording is converted, channel files (N.mp4) an earlier\n"
    "conversion of it left there are removed.\n"
    "\n"
    "  -o, --output DIR   put the folders into DIR (created with its parents)\n"
    "      --faststart    put each file's index at its front, for web players\n"
    "      --tag TAG      H.265 sample entry: hev1 (default) or hvc1 (Apple players)\n"
    "      --json         report one JSON object per recording on standard output\n"
    "  -q, --quiet        no progress on standard error\n"
    "  -v, --verbose      diagnostics on standard error instead of the log file\n"
    "      --log FILE     write diagnostics to FILE (default\n"
    "                     $XDG_STATE_HOME/vyrk2mp4/vyrk2mp4.log, appended)\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Standard output carries only the report: a line per recording and per channel file.\n"
    "Progress goes to standard error. Each file is written as .N.mp4.part and renamed to N.mp4\n"
    "once it is complete; an N.mp4 is never a half-written file. SIGINT, SIGTERM or SIGHUP\n"
    "stops: files already begun are finished and the recording is reported as stopped. A\n"
    "second signal ends at once, leaving only .part files.\n"
    "\n"
    "Exit status:\n"
    "  0      every recording converted\n"
    "  1      some recording failed (not converted, or a channel's file not written), or the\n"
    "         report or the log could not be written\n"
    "  2      usage error\n"
    "  3      every recording converted, some with damage: parts that could not be read were\n"
    "         left out (state \"damaged\")\n"
    "  128+N  stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP)\n";

namespace {

// Splits "--name=value" and takes a value from the next argument when there is none.
bool TakeValue(int argc, char** argv, int& i, const char* inlineValue, std::string& value,
               std::string& error) {
    if (inlineValue) {
        value = inlineValue;
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = std::string("option '") + argv[i] + "' needs a value";
        return false;
    }
    if (value.empty()) {
        error = std::string("option '") + argv[i] + "' needs a non-empty value";
        return false;
    }
    return true;
}

bool ParseLong(int argc, char** argv, int& i, SOptions& options, std::string& error) {
    std::string name = argv[i];
    const char* inlineValue = nullptr;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
        inlineValue = argv[i] + equals + 1;
        name.resize(equals);
    }
    bool* flag = name == "--quiet"       ? &options.quiet
                 : name == "--verbose"   ? &options.verbose
                 : name == "--json"      ? &options.json
                 : name == "--faststart" ? &options.faststart
                 : name == "--help"      ? &options.help
                 : name == "--version"   ? &options.version
                                         : nullptr;
    if (flag) {
        if (inlineValue) {
            error = "option '" + name + "' takes no value";
            return false;
        }
        *flag = true;
        return true;
    }
    if (name == "--output")
        return TakeValue(argc, argv, i, inlineValue, options.outputDir, error);
    if (name == "--log")
        return TakeValue(argc, argv, i, inlineValue, options.logPath, error);
    if (name == "--tag") {
        std::string tag;
        if (!TakeValue(argc, argv, i, inlineValue, tag, error))
            return false;
        if (tag != "hvc1" && tag != "hev1") {
            error = "unknown tag '" + tag + "' (hev1 or hvc1)";
            return false;
        }
        options.hvc1 = tag == "hvc1";
        return true;
    }
    error = "unknown option '" + name + "'";
    return false;
}

bool ParseShort(int argc, char** argv, int& i, SOptions& options, std::string& error) {
    for (const char* c = argv[i] + 1; *c; ++c) {
        switch (*c) {
        case 'q':
            options.quiet = true;
            break;
        case 'v':
            options.verbose = true;
            break;
        case 'h':
            options.help = true;
            break;
        case 'o':
            return TakeValue(argc, argv, i, c[1] ? c + 1 : nullptr, options.outputDir, error);
        default:
            error = std::string("unknown option '-") + *c + "'";
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseOptions(int argc, char** argv, SOptions& options, std::string& error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || strcmp(arg, "-") == 0) {
            options.inputs.push_back(arg);
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (arg[1] == '-' ? !ParseLong(argc, argv, i, options, error)
                                 : !ParseShort(argc, argv, i, options, error)) {
            return false;
        }
    }
    if (options.help || options.version)
        return true;
    if (options.inputs.empty()) {
        error = "no recording given";
        return false;
    }
    return true;
}
