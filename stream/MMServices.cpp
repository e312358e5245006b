#include "stream/MMServices.h"

#include "stream/MainThreadDispatcher.h"

#include <cstdio>
#include <mutex>

namespace {

class StderrMessageBox : public MessageBoxService {
public:
    MessageResult Show(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageResult::Yes
                                                                                         : MessageResult::Ok;
    }
};

class StderrErrorHandler : public ErrorHandlerService {
public:
    void HandleException(std::exception_ptr error) override {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Error: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "Error: unknown exception\n");
        }
    }
};

std::mutex serviceLock;
std::shared_ptr<MessageBoxService> messageBox;
std::shared_ptr<ErrorHandlerService> errorHandler;

} // namespace

std::shared_ptr<MessageBoxService> CurrentMessageBox() {
    std::lock_guard guard(serviceLock);
    if (!messageBox) messageBox = std::make_shared<StderrMessageBox>();
    return messageBox;
}

std::shared_ptr<ErrorHandlerService> CurrentErrorHandler() {
    std::lock_guard guard(serviceLock);
    if (!errorHandler) errorHandler = std::make_shared<StderrErrorHandler>();
    return errorHandler;
}

std::shared_ptr<MessageBoxService> SetMessageBoxService(std::shared_ptr<MessageBoxService> service) {
    std::lock_guard guard(serviceLock);
    auto old = std::move(messageBox);
    messageBox = std::move(service);
    return old;
}

std::shared_ptr<ErrorHandlerService> SetErrorHandlerService(std::shared_ptr<ErrorHandlerService> service) {
    std::lock_guard guard(serviceLock);
    auto old = std::move(errorHandler);
    errorHandler = std::move(service);
    return old;
}

MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons) {
    return CurrentMessageBox()->Show(text, caption, buttons);
}

void ReportErrorOnMainThread(std::exception_ptr error) {
    auto& dispatcher = MainThreadDispatcher::Instance();
    if (dispatcher.IsMainThread())
        CurrentErrorHandler()->HandleException(error);
    else
        dispatcher.Post(nullptr, [error] { CurrentErrorHandler()->HandleException(error); });
}
