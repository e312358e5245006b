#pragma once
// Event types shared by components that are not chain-buffer events.

#include <functional>

class TMMComponent;

// A plain notification: who fired it.
using TMMNotifyEvent = std::function<void(TMMComponent* Sender)>;
// An error raised while a buffer was processed; a handler that sets Handled swallows it.
using TMMErrorEvent = std::function<void(TMMComponent* Sender, bool& Handled)>;
