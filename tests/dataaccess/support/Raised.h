#pragma once
// The error a call raises, for checking its code and text.

#include <QString>
#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

namespace calvoro::test {

// The exception of type E that `call` raises; a failure, and an empty E, when it raises none.
template <typename E>
E Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    if constexpr (std::is_constructible_v<E, int, QString>)
        return E(0, QString());
    else
        return E(QString());
}

}  // namespace calvoro::test
