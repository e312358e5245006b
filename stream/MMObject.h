#pragma once
// Base of the persistent objects (filter lists, wave objects, cut and fade lists): an update
// counter batches changes so a run of edits between BeginUpdate and EndUpdate is announced once.

#include <functional>

class TMMObject {
public:
    using TNotifyEvent = std::function<void(TMMObject* sender)>;

    virtual ~TMMObject() = default;

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

protected:
    // Setters call Changed after a change; both events fire only while the counter is 0.
    virtual void Changing();
    virtual void Changed();

private:
    int updateCount_ = 0;
};
