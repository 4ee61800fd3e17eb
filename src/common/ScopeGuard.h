#pragma once
// An undo step that runs when a scope ends, whether the work in it returned or raised: written
// once instead of in a catch handler and again after the work. Plain C++ (no Qt), so that the
// protocol layer can use it too.
//
//   PushOperation(clConnect);
//   ScopeExit pop([&] { PopOperation(); });
//   DoConnect();
//
// Dismiss() cancels the undo: for undo steps that belong to the failure alone, dismiss after
// the work; where success ends differently, dismiss and do the success's own step.
//
// An undo step that raises on the way out of a successful scope raises to the caller. One that
// raises while the work's own exception is leaving the scope is dropped: that exception is the
// failure to report, and C++ cannot carry two.

#include <exception>
#include <utility>

namespace calvoro {

template <typename Undo>
class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(Undo undo) : FUndo(std::move(undo)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    ~ScopeExit() noexcept(false) {
        if (!FActive) return;
        if (std::uncaught_exceptions() == FUncaught) {
            FUndo();
            return;
        }
        try {
            FUndo();
        } catch (...) {
            // The work's exception is already leaving the scope and is the one reported.
        }
    }

    void Dismiss() { FActive = false; }

private:
    Undo FUndo;
    int FUncaught = std::uncaught_exceptions();
    bool FActive = true;
};

}  // namespace calvoro
