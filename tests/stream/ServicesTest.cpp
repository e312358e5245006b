#include <gtest/gtest.h>

#include "support/TestServices.h"
#include "stream/MMErrors.h"
#include "stream/MMObject.h"

namespace {

TEST(Services, ReplacedMessageBoxAndErrorHandlerSeeWhatIsShown) {
    ScopedTestServices services;
    services.messages->answer = MessageResult::No;
    EXPECT_EQ(ShowMessage("text", "Caption", MessageButtons::YesNo), MessageResult::No);
    EXPECT_FALSE(GuardedCall([] { throw EMMTriggerError(MMText::PropertyWhileOpen); }));
    EXPECT_TRUE(GuardedCall([] {}));
    ASSERT_EQ(services.messages->Shown().size(), 1u);
    EXPECT_EQ(services.messages->Shown()[0].caption, "Caption");
    EXPECT_EQ(services.errors->Messages(), std::vector<std::string>{"Change to property while device was open"});
}

TEST(TMMObject, BatchedChangesAreAnnouncedOnce) {
    struct Counted : TMMObject {
        void Set() { Changed(); }
    } object;
    int changing = 0, changed = 0;
    object.OnChanging = [&](TMMObject*) { ++changing; };
    object.OnChange = [&](TMMObject*) { ++changed; };
    object.Set();
    EXPECT_EQ(changed, 1);
    object.BeginUpdate();
    object.BeginUpdate();
    object.Set();
    object.Set();
    object.EndUpdate();
    EXPECT_EQ(changed, 1);
    object.EndUpdate();
    EXPECT_EQ(changing, 1);
    EXPECT_EQ(changed, 2);
    object.EndUpdate(); // unbalanced: ignored
    EXPECT_EQ(object.UpdateCount(), 0);
    EXPECT_EQ(changed, 2);
}

} // namespace
