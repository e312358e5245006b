#pragma once
// Exception classes of the component families, and the fixed texts several families share.

#include <stdexcept>
#include <string>

// Base of every component failure; `what()` is the exact text the user sees.
class EMMError : public std::runtime_error {
public:
    explicit EMMError(const std::string& text) : std::runtime_error(text) {}
};

#define TONALIS_DECLARE_ERROR(Name)                                                                \
    class Name : public EMMError {                                                                 \
    public:                                                                                        \
        using EMMError::EMMError;                                                                  \
    };

TONALIS_DECLARE_ERROR(EMMDSPError)
TONALIS_DECLARE_ERROR(EMMWaveInError)
TONALIS_DECLARE_ERROR(EMMWaveOutError)
TONALIS_DECLARE_ERROR(EMMTriggerError)
TONALIS_DECLARE_ERROR(EMMTimerError)
TONALIS_DECLARE_ERROR(EMMBufferError)
TONALIS_DECLARE_ERROR(EMMConnectorError)
TONALIS_DECLARE_ERROR(EMMEqualizerError)
TONALIS_DECLARE_ERROR(EMMSpectrumError)
TONALIS_DECLARE_ERROR(EMMLevelError)
TONALIS_DECLARE_ERROR(EMMPeakDetectError)
TONALIS_DECLARE_ERROR(EMMOscopeError)
TONALIS_DECLARE_ERROR(EMMPlugInError)
TONALIS_DECLARE_ERROR(EMMPitchError)
TONALIS_DECLARE_ERROR(EMMFadeError)
TONALIS_DECLARE_ERROR(EMMWaveError)
TONALIS_DECLARE_ERROR(EMMAudioError)
TONALIS_DECLARE_ERROR(EMMMpegError)
TONALIS_DECLARE_ERROR(EMMConverterError)
TONALIS_DECLARE_ERROR(EMMADPCMError)
TONALIS_DECLARE_ERROR(EMMACMError)
TONALIS_DECLARE_ERROR(EMMEncoderError)
TONALIS_DECLARE_ERROR(EMMCDDAError)
TONALIS_DECLARE_ERROR(EMMRecorderError)
TONALIS_DECLARE_ERROR(EMMMixerError)
TONALIS_DECLARE_ERROR(EMMDSoundError)
TONALIS_DECLARE_ERROR(EMMPlayerError)

#undef TONALIS_DECLARE_ERROR

// The high-resolution timer's failures are timer failures.
class EMMHiTimerError : public EMMTimerError {
public:
    using EMMTimerError::EMMTimerError;
};

namespace MMText {
inline constexpr const char* PropertyWhileOpen = "Change to property while device was open";
inline constexpr const char* InvalidWaveFormat = "Invalid WaveFormat";
inline constexpr const char* NoHeaderMemory = "Unable to allocate memory for wave header";
inline constexpr const char* MapperId = "MapperId";
inline constexpr const char* InvalidId = "InvalidId";
inline constexpr const char* CouldNotCreateThread = "Could not create thread";
// Shown (with the component's class name as caption) when cmCallback is chosen.
inline constexpr const char* CallBackModeRefused =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95";
} // namespace MMText
