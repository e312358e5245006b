#include "plugins/dsp_enh/EnhancerProcessor.h"

#include <algorithm>

#include "plugins/common/DenormalGuard.h"
#include "plugins/common/Pcm16.h"

bool EnhancerProcessor::init(int sampleRate, int channels) {
    if (sampleRate < MinRate || sampleRate > MaxRate || channels < 1 || channels > MaxChannels) return false;
    rate_ = sampleRate;
    channels_ = channels;
    engines_.clear();
    for (int c = 0; c < channels; c += 2) {
        auto engine = std::make_unique<EnhancerEngine>();
        engine->init(sampleRate, c + 1 < channels);
        engines_.push_back(std::move(engine));
    }
    fifo_.assign(static_cast<size_t>(BlockFrames * channels), 0);
    fifoPos_ = 0;
    return true;
}

void EnhancerProcessor::update_settings(const EnhancerParameters& parameters) {
    for (auto& engine : engines_) engine->update_settings(parameters);
}

void EnhancerProcessor::reset() {
    for (auto& engine : engines_) engine->reset();
    std::fill(fifo_.begin(), fifo_.end(), 0);
    fifoPos_ = 0;
}

int EnhancerProcessor::latency() const {
    return BlockFrames + (engines_.empty() ? 0 : engines_.front()->latency());
}

void EnhancerProcessor::process(int16_t* samples, int frames) {
    if (engines_.empty() || !samples) return;
    DenormalGuard guard;
    int done = 0;
    while (done < frames) {
        const int n = std::min(BlockFrames - fifoPos_, frames - done);
        int16_t* at = samples + static_cast<size_t>(done) * static_cast<size_t>(channels_);
        std::swap_ranges(at, at + n * channels_, fifo_.begin() + fifoPos_ * channels_);
        fifoPos_ += n;
        done += n;
        if (fifoPos_ == BlockFrames) {
            processBlock();
            fifoPos_ = 0;
        }
    }
}

void EnhancerProcessor::processBlock() {
    const int stride = channels_;
    for (size_t e = 0; e < engines_.size(); ++e) {
        const int first = static_cast<int>(e) * 2;
        const bool stereo = first + 1 < channels_;
        int16_t* base = fifo_.data() + first;
        for (int i = 0; i < BlockFrames; ++i) {
            left_[i] = base[i * stride] * Pcm16ToFloat;
            right_[i] = stereo ? base[i * stride + 1] * Pcm16ToFloat : 0.0f;
        }
        engines_[e]->process(left_, right_, BlockFrames);
        for (int i = 0; i < BlockFrames; ++i) {
            base[i * stride] = FloatToPcm16(left_[i], EnhancerEngine::CeilingSteps);
            if (stereo) base[i * stride + 1] = FloatToPcm16(right_[i], EnhancerEngine::CeilingSteps);
        }
    }
}
