// The tests' one way to assert a failure: its exact class and its message
// together, and optionally whatever else it carries (an error number, a code).
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <typeindex>
#include <typeinfo>

/// Runs call and expects it to raise a failure of exactly class type (not a
/// subclass) whose message is message.
inline void ExpectFailure(const std::function<void()>& call, std::type_index type,
                          const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no failure raised";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::type_index(typeid(e)), type) << typeid(e).name() << ": " << e.what();
        EXPECT_EQ(std::string(e.what()), message);
    }
}

/// Runs call and expects it to raise a failure of class E or a subclass of
/// it (the socket errors have one per number) whose message is message;
/// check, when given, then looks at the failure.
template <class E>
void ExpectFailure(const std::function<void()>& call, const std::string& message,
                   const std::function<void(const E&)>& check = nullptr) {
    try {
        call();
        ADD_FAILURE() << "no failure raised";
    } catch (const std::exception& e) {
        const auto* failure = dynamic_cast<const E*>(&e);
        EXPECT_TRUE(failure) << "not a " << typeid(E).name() << ": " << typeid(e).name() << ": "
                             << e.what();
        EXPECT_EQ(std::string(e.what()), message);
        if (failure && check)
            check(*failure);
    }
}

/// The statement raises class type (or a subclass) with message.
#define EXPECT_THROW_MSG(statement, type, message) ExpectFailure<type>([&] { statement; }, message)
