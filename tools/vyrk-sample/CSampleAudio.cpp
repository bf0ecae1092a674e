#include "CSampleAudio.h"

#include <cmath>
#include <cstddef>

namespace {

int16_t ToneSample(int channel, int64_t n) {
    const double frequency = 440.0 + 110.0 * channel;
    const double t = static_cast<double>(n) / 44100.0;
    return static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * frequency * t)));
}

} // namespace

CSampleAudio::CSampleAudio(const SSampleOptions& options) : m_options(options) {}

// Silence, but a 100 ms 1 kHz burst from each flash on.
int16_t CSampleAudio::FlashSample(int64_t n) const {
    for (int64_t first : m_options.burstFirstSamples)
        if (n >= first && n < first + 4410) {
            const double t = static_cast<double>(n - first) / 44100.0;
            return static_cast<int16_t>(std::lround(16000.0 * std::sin(2 * M_PI * 1000.0 * t)));
        }
    return 0;
}

void CSampleAudio::Block(int channel, int64_t firstSample, std::vector<uint8_t>& out) const {
    const int samples = m_options.audioSamples;
    out.resize(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < samples; ++i) {
        const int64_t n = firstSample + i;
        const int16_t v = m_options.flashSeconds.empty() ? ToneSample(channel, n) : FlashSample(n);
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
    }
}

int64_t CSampleAudio::BlocksUntil(int64_t firstSample, double endSeconds) const {
    const double start = static_cast<double>(m_options.audioOffsetUs) / 1e6;
    const double samples = (endSeconds - start) * 44100.0 - static_cast<double>(firstSample);
    return samples > 0 ? static_cast<int64_t>(std::ceil(samples / m_options.audioSamples)) : 0;
}

int64_t CSampleAudio::SampleAt(double seconds) const {
    const double start = static_cast<double>(m_options.audioOffsetUs) / 1e6;
    return std::llround((seconds - start) * 44100.0);
}

int64_t CSampleAudio::TimeUs(int64_t sample) const {
    return m_options.audioOffsetUs + std::llround(static_cast<double>(sample) * 1e6 / 44100.0);
}

bool CSampleAudio::InGap(int64_t us) const {
    for (const auto& gap : m_options.audioGapsUs)
        if (us >= gap.first && us < gap.second)
            return true;
    return false;
}

int64_t CSampleAudio::JitterUs(int channel, int64_t block) const {
    const int64_t jitter = m_options.audioJitterUs;
    if (jitter <= 0)
        return 0;
    uint64_t x = static_cast<uint64_t>(block) * 0x9E3779B97F4A7C15ull +
                 static_cast<uint64_t>(channel + 1) * 0xD1B54A32D192ED03ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    const uint64_t span = static_cast<uint64_t>(jitter) * 2 + 1;
    return static_cast<int64_t>(x % span) - jitter;
}
