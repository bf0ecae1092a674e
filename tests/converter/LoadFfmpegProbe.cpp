// Does nothing but load the FFmpeg libraries the converter links, and everything they load in
// turn. The memory check runs it under valgrind first: if valgrind cannot get through this,
// it cannot run the converter either, whatever the converter does.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

int main() {
    // Calling into each library keeps the linker from dropping any of them.
    const unsigned versions[] = {avformat_version(), avcodec_version(), avutil_version(),
                                 swresample_version()};
    for (unsigned version : versions)
        if (version == 0)
            return 1;
    return 0;
}
