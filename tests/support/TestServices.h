#pragma once
// Recording stand-ins for the message box and error handler services.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "stream/MMServices.h"

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageButtons buttons;
};

class RecordingMessageBox : public MessageBoxService {
public:
    MessageResult Show(const std::string& text, const std::string& caption, MessageButtons buttons) override;
    std::vector<ShownMessage> Shown() const;
    MessageResult answer = MessageResult::Ok;

private:
    mutable std::mutex lock_;
    std::vector<ShownMessage> shown_;
};

class RecordingErrorHandler : public ErrorHandlerService {
public:
    void HandleException(std::exception_ptr error) override;
    std::vector<std::string> Messages() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> messages_;
};

// Installs both recorders for the lifetime of the object and restores the previous services.
class ScopedTestServices {
public:
    ScopedTestServices();
    ~ScopedTestServices();
    std::shared_ptr<RecordingMessageBox> messages = std::make_shared<RecordingMessageBox>();
    std::shared_ptr<RecordingErrorHandler> errors = std::make_shared<RecordingErrorHandler>();

private:
    std::shared_ptr<MessageBoxService> oldMessages_;
    std::shared_ptr<ErrorHandlerService> oldErrors_;
};
