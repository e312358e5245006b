#include "stream/MMTypes.h"

#include "stream/MMErrors.h"

#include <charconv>

std::string DeviceIdToString(TMMDeviceId id) {
    if (id == MapperId) return MMText::MapperId;
    if (id == InvalidId) return MMText::InvalidId;
    return std::to_string(id);
}

TMMDeviceId DeviceIdFromString(const std::string& text) {
    if (text == MMText::MapperId) return MapperId;
    if (text == MMText::InvalidId) return InvalidId;
    TMMDeviceId value = InvalidId;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return InvalidId;
    return value;
}

int ThreadPriorityValue(TMMThreadPriority priority) {
    static constexpr int map[] = {-15, -2, -1, 0, 1, 2, 15};
    const int i = static_cast<int>(priority);
    return (i >= 0 && i < 7) ? map[i] : 0;
}
