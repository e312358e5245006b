#include "support/TestServices.h"

MessageResult RecordingMessageBox::Show(const std::string& text, const std::string& caption,
                                        MessageButtons buttons) {
    std::lock_guard guard(lock_);
    shown_.push_back({text, caption, buttons});
    return answer;
}

std::vector<ShownMessage> RecordingMessageBox::Shown() const {
    std::lock_guard guard(lock_);
    return shown_;
}

void RecordingErrorHandler::HandleException(std::exception_ptr error) {
    std::string text = "unknown exception";
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    std::lock_guard guard(lock_);
    messages_.push_back(text);
}

std::vector<std::string> RecordingErrorHandler::Messages() const {
    std::lock_guard guard(lock_);
    return messages_;
}

ScopedTestServices::ScopedTestServices()
    : oldMessages_(SetMessageBoxService(messages)), oldErrors_(SetErrorHandlerService(errors)) {}

ScopedTestServices::~ScopedTestServices() {
    SetMessageBoxService(oldMessages_);
    SetErrorHandlerService(oldErrors_);
}
