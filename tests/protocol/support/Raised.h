#pragma once
// Runs a piece of protocol work that must fail and returns the EMySqlException it raised.

#include "protocol/MySqlErrors.h"

#include <gtest/gtest.h>

#include <functional>

namespace calvoro::test {

inline protocol::EMySqlException Raised(const std::function<void()>& work) {
    try {
        work();
    } catch (const protocol::EMySqlException& e) {
        return e;
    }
    ADD_FAILURE() << "no EMySqlException";
    return protocol::EMySqlException(0);
}

}  // namespace calvoro::test
