// ScopeExit: the undo step runs on every way out of the scope, once, unless dismissed; its own
// failure raises only when nothing else is raising.
#include "common/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using calvoro::ScopeExit;

namespace {

struct TWorkFailed : std::runtime_error {
    TWorkFailed() : std::runtime_error("work") {}
};
struct TUndoFailed : std::runtime_error {
    TUndoFailed() : std::runtime_error("undo") {}
};

}  // namespace

TEST(ScopeExit, RunsOnceOnEveryWayOut) {
    struct Case {
        const char* name;
        bool workFails, dismiss;
        int undone;
    } cases[] = {
        {"work returns", false, false, 1},
        {"work raises", true, false, 1},
        {"dismissed, work returns", false, true, 0},
        {"dismissed, work raises", true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int undone = 0;
        bool raised = false;
        try {
            ScopeExit undo([&] { ++undone; });
            if (c.dismiss) undo.Dismiss();
            if (c.workFails) throw TWorkFailed();
        } catch (const TWorkFailed&) {
            raised = true;
        }
        EXPECT_EQ(undone, c.undone);
        EXPECT_EQ(raised, c.workFails) << "the work's exception passes through";
    }
}

TEST(ScopeExit, FailingUndo) {
    // After work that returned, the undo's exception reaches the caller.
    EXPECT_THROW(
        {
            ScopeExit undo([] { throw TUndoFailed(); });
        },
        TUndoFailed);

    // While the work's exception leaves the scope, that one is reported and the undo's dropped.
    std::string reported;
    try {
        ScopeExit undo([] { throw TUndoFailed(); });
        throw TWorkFailed();
    } catch (const std::exception& e) {
        reported = e.what();
    }
    EXPECT_EQ(reported, "work");

    // Undo steps run in reverse order of their guards, each one even when an inner one fails.
    std::string order;
    try {
        ScopeExit outer([&] { order += "outer "; });
        ScopeExit inner([&] {
            order += "inner ";
            throw TUndoFailed();
        });
    } catch (const TUndoFailed&) {
        order += "caught";
    }
    EXPECT_EQ(order, "inner outer caught");
}
