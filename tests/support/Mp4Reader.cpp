#include "Mp4Reader.h"

#include "FindNalUnit.h"
#include "Subprocess.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sstream>

int Mp4Contents::VideoIndex() const {
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].video)
            return static_cast<int>(i);
    return -1;
}

int Mp4Contents::AudioIndex() const {
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].audio)
            return static_cast<int>(i);
    return -1;
}

std::vector<Mp4Packet> Mp4Contents::PacketsOf(int stream) const {
    std::vector<Mp4Packet> out;
    for (const Mp4Packet& p : packets)
        if (p.stream == stream)
            out.push_back(p);
    return out;
}

std::vector<std::vector<uint8_t>> Mp4Contents::VideoNalUnits() const {
    std::vector<std::vector<uint8_t>> units;
    for (const Mp4Packet& p : PacketsOf(VideoIndex())) {
        size_t at = 0;
        while (at + 4 <= p.data.size()) {
            const size_t n = (size_t(p.data[at]) << 24) | (size_t(p.data[at + 1]) << 16) |
                             (size_t(p.data[at + 2]) << 8) | size_t(p.data[at + 3]);
            at += 4;
            if (at + n > p.data.size())
                break;
            units.emplace_back(p.data.begin() + static_cast<long>(at),
                               p.data.begin() + static_cast<long>(at + n));
            at += n;
        }
    }
    return units;
}

Mp4Contents ReadMp4(const std::string& path) {
    Mp4Contents contents;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return contents;
    contents.opened = true;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* par = st->codecpar;
        Mp4Stream s;
        s.video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        s.audio = par->codec_type == AVMEDIA_TYPE_AUDIO;
        contents.otherStreams += s.video || s.audio ? 0 : 1;
        s.codecId = par->codec_id;
        s.width = par->width;
        s.height = par->height;
        s.sampleRate = par->sample_rate;
        s.frameRateNum = st->avg_frame_rate.num;
        s.frameRateDen = st->avg_frame_rate.den;
        s.timeBaseNum = st->time_base.num;
        s.timeBaseDen = st->time_base.den;
        s.extradata.assign(par->extradata, par->extradata + par->extradata_size);
        contents.streams.push_back(s);
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        const Mp4Stream& s = contents.streams[static_cast<size_t>(pkt->stream_index)];
        if (s.video || s.audio)
            contents.packets.push_back({pkt->stream_index, pkt->pts, pkt->dts, pkt->duration,
                                        (pkt->flags & AV_PKT_FLAG_KEY) != 0,
                                        std::vector<uint8_t>(pkt->data, pkt->data + pkt->size)});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return contents;
}

std::vector<std::vector<uint8_t>> AnnexBNalUnits(const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> units;
    ForEachNalUnit(bytes.data(), static_cast<int32_t>(bytes.size()),
                   [&](const uint8_t* p, int32_t n) { units.emplace_back(p, p + n); });
    return units;
}

long long DecodedAudioSamples(const std::string& path) {
    const SubprocessResult r =
        RunProgram({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                    "frame=nb_samples", "-of", "csv=p=0", path});
    if (r.exitCode != 0)
        return -1;
    long long total = 0;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            total += std::stoll(line);
    return total;
}

std::string DecodeErrors(const std::string& path, const std::string& seekSeconds) {
    std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-nostdin", "-v", "error"};
    if (!seekSeconds.empty()) {
        argv.push_back("-ss");
        argv.push_back(seekSeconds);
    }
    argv.insert(argv.end(), {"-i", path});
    if (!seekSeconds.empty())
        argv.insert(argv.end(), {"-frames:v", "5"});
    argv.insert(argv.end(), {"-f", "null", "-"});
    const SubprocessResult r = RunProgram(argv);
    return r.exitCode == 0 ? r.output : "exit " + std::to_string(r.exitCode) + ": " + r.output;
}
