#include "CAnnexBSource.h"

#include "FFmpegPtr.h"

#include <fstream>
#include <iterator>

bool CAnnexBSource::Load(const std::string& path, std::vector<std::vector<uint8_t>>& units,
                         std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    const size_t size = bytes.size();
    bytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0); // the parser reads past its input
    ParserPtr parser(av_parser_init(AV_CODEC_ID_HEVC));
    CodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!parser || !context) {
        error = "no H.265 parser";
        return false;
    }
    size_t offset = 0;
    for (;;) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int remaining = static_cast<int>(size - offset);
        const int used = av_parser_parse2(parser.get(), context.get(), &out, &outSize,
                                          remaining > 0 ? bytes.data() + offset : nullptr,
                                          remaining, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) {
            error = "cannot parse " + path;
            return false;
        }
        offset += static_cast<size_t>(used);
        // The parser leaves the first zero of the next four-byte start code behind; it belongs
        // to no NAL unit.
        while (outSize > 0 && out[outSize - 1] == 0)
            --outSize;
        if (outSize > 0)
            units.emplace_back(out, out + outSize);
        if (remaining == 0 && outSize == 0)
            break;
    }
    if (units.empty()) {
        error = path + " holds no access unit";
        return false;
    }
    return true;
}
