#pragma once
// The twelve values of the enhancer key, as the plug-in reads them. What each one does and its
// range are listed in README.md; values outside a range are clamped by the block that uses them.
// The defaults are the values the main window writes at every start.

struct EnhancerParameters {
    int ambience = 0;
    int ambienceRange = 0;
    int boosted = 0;
    int drumBass = 23;
    int drumBassRange = 20;
    int drySignal = 100;
    int harmBass = 23;
    int harmBassRange = 18;
    int harmTreble = 29;
    int harmTrebleRange = 38;
    int volume = 53;
    int windowState = 0;

    // Every effect off, dry signal full, volume at 0 dB: only the compressor and the limiter
    // remain, and below their thresholds the output equals the input.
    static EnhancerParameters Neutral() {
        EnhancerParameters p;
        p.drumBass = p.harmBass = p.harmTreble = 0;
        p.volume = 50;
        return p;
    }
};
