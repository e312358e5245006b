#pragma once
// Replaceable services the components use to reach the user: the message box and the
// application's error handler. The programs install widget-based ones; tests install recorders.

#include <exception>
#include <memory>
#include <string>

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MessageResult Show(const std::string& text, const std::string& caption,
                               MessageButtons buttons) = 0;
};

class ErrorHandlerService {
public:
    virtual ~ErrorHandlerService() = default;
    // Receives errors that escaped a handler; the handler that raised them has ended.
    virtual void HandleException(std::exception_ptr error) = 0;
};

// The current services; the defaults write to standard error and answer Ok/Yes.
std::shared_ptr<MessageBoxService> CurrentMessageBox();
std::shared_ptr<ErrorHandlerService> CurrentErrorHandler();
// Installs a service for the process; returns the previous one (null restores the default).
std::shared_ptr<MessageBoxService> SetMessageBoxService(std::shared_ptr<MessageBoxService> service);
std::shared_ptr<ErrorHandlerService> SetErrorHandlerService(std::shared_ptr<ErrorHandlerService> service);

// Shows `text` through the current message box service.
MessageResult ShowMessage(const std::string& text, const std::string& caption,
                          MessageButtons buttons = MessageButtons::Ok);
// Hands `error` to the error handler on the main thread: at once there, posted from other threads
// (so a worker never waits for a dialog).
void ReportErrorOnMainThread(std::exception_ptr error);
// Runs `body`, handing anything it throws to the error handler. Returns false when it threw.
template <typename F> bool GuardedCall(F&& body) {
    try {
        body();
        return true;
    } catch (...) {
        CurrentErrorHandler()->HandleException(std::current_exception());
        return false;
    }
}
