#include "stream/MMObject.h"

void TMMObject::BeginUpdate() {
    if (updateCount_ == 0) Changing();
    ++updateCount_;
}

void TMMObject::EndUpdate() {
    if (updateCount_ == 0) return; // unbalanced calls must not drive the counter negative
    --updateCount_;
    if (updateCount_ == 0) Changed();
}

void TMMObject::Changing() {
    if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void TMMObject::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange(this);
}
