#pragma once
// Enumerations and small value types shared by every audio component.

#include <cstdint>
#include <string>

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };
enum TMMBits { b8Bit, b16Bit };
enum TMMMode { mMono, mStereo, mMultiChannel };
enum TMMChannel { chBoth, chLeft, chRight };
enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
enum TMMCBMode { cmWindow, cmCallback, cmThread };
enum TMMThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

using TMMDeviceId = int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

// Stored settings write the two special identifiers by name, every other value as a number.
std::string DeviceIdToString(TMMDeviceId id);
// Unknown texts read as InvalidId, so a damaged setting never selects a random device.
TMMDeviceId DeviceIdFromString(const std::string& text);

// The priority the operating system scale gives each level (idle -15 ... time critical 15).
int ThreadPriorityValue(TMMThreadPriority priority);
