#pragma once
// TMMACMConverter: a chain component that runs a conversion chain on the stream passing through
// it, from its input's format to the requested output format.
//
// When the formats do not differ, or the component is disabled, data passes unchanged and the
// component's format is its input's. Pushed buffers are converted in chunks and handed on in
// buffers of at most BufferSize bytes; pulls fill the caller's buffer from converted output,
// pulling whole chunks from upstream as needed.
//
// Threads: formats, properties and open/close on the main thread; pushes and pulls on the
// driver's thread, which alone touches the chain while the component is started.

#include <vector>

#include "files/converters/ConversionChain.h"
#include "stream/MMDSPComponent.h"

class TMMACMConverter : public TMMDSPComponent {
public:
    TMMACMConverter();
    ~TMMACMConverter() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TMMConvertQuality Quality() const { return quality_; }
    void SetQuality(TMMConvertQuality value);

    // The format asked for downstream; null asks for nothing.
    const WAVEFORMATEX* OutputFormat() const { return output_.get(); }
    virtual void SetOutputFormat(const WAVEFORMATEX* format);

    const WAVEFORMATEX* InputFormat() const { return input_.get(); }
    // The destination actually used; null when no conversion is wanted.
    const WAVEFORMATEX* DestinationFormat() const { return destination_.get(); }
    bool NeedsConversion() const { return needsConversion_; }
    bool CanConvert() const { return canConvert_; }
    // The running chain while opened and converting, for inspection.
    const TConversionChain* Chain() const { return chain_.get(); }

    void InputFormatChanged(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    int BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

protected:
    // The destination for the current input and settings (here: the requested output format).
    virtual WaveFormatPtr ComputeDestination() const;
    // Whether the input must be converted even when no destination could be computed (a
    // compressed input that only PCM may leave): opening then fails instead of passing it on.
    virtual bool InputMustConvert() const { return false; }
    // Recomputes destination and flags and sets the component's own format.
    void UpdateConversion();
    bool converting() const { return chain_ != nullptr; }

private:
    bool enabled_ = true;
    TMMConvertQuality quality_ = cqLow;
    WaveFormatPtr input_, output_, destination_;
    bool needsConversion_ = false, canConvert_ = false;
    PConversionChain chain_;
    uint32_t chunk_ = 0;
    bool endOfInput_ = false, drainedOnce_ = false;
    std::vector<uint8_t> pushBlock_; // header and data of the buffer handed downstream on pushes
};
