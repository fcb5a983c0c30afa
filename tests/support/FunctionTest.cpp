#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "support/Function.h"

namespace {

// A callable that counts its living instances and its calls.
struct CountedCallable {
    static int s_alive;
    std::shared_ptr<int> calls = std::make_shared<int>(0);

    CountedCallable() { ++s_alive; }
    CountedCallable(const CountedCallable& other) : calls(other.calls) { ++s_alive; }
    CountedCallable(CountedCallable&& other) noexcept : calls(other.calls) { ++s_alive; }
    CountedCallable& operator=(const CountedCallable&) = delete;
    ~CountedCallable() { --s_alive; }

    int operator()(int argument) { return argument + ++*calls; }
};
int CountedCallable::s_alive = 0;

TEST(Function, CopiesShareOneCallable)
{
    int calls = 0;
    Oru::function<int()> first([calls]() mutable { return ++calls; });
    const Oru::function<int()> copy = first;
    EXPECT_EQ(1, first());
    EXPECT_EQ(2, copy());
    EXPECT_EQ(3, first());
    EXPECT_EQ(0, calls);
}

TEST(Function, TheCopyStaysCallableWhenTheFirstIsDestroyed)
{
    auto first = std::make_unique<Oru::function<std::string(const std::string&)>>(
        [](const std::string& name) { return "hello " + name; });
    const Oru::function<std::string(const std::string&)> copy = *first;
    first.reset();
    EXPECT_EQ("hello world", copy("world"));
}

TEST(Function, TheCallableIsDestroyedWithTheLastCopy)
{
    CountedCallable::s_alive = 0;
    {
        auto first = std::make_unique<Oru::function<int(int)>>(CountedCallable());
        EXPECT_EQ(1, CountedCallable::s_alive);
        auto second = std::make_unique<Oru::function<int(int)>>(*first);
        Oru::function<int(int)> third;
        third = *second;
        EXPECT_EQ(1, CountedCallable::s_alive);
        first.reset();
        second.reset();
        EXPECT_EQ(1, CountedCallable::s_alive);
        EXPECT_EQ(11, third(10));
    }
    EXPECT_EQ(0, CountedCallable::s_alive);
}

TEST(Function, ForwardsArgumentsAndResults)
{
    Oru::function<std::unique_ptr<int>(std::unique_ptr<int>)> moveOnly([](std::unique_ptr<int> value) {
        *value += 1;
        return value;
    });
    EXPECT_EQ(42, *moveOnly(std::make_unique<int>(41)));

    Oru::function<void(int&)> byReference([](int& value) { value = 7; });
    int target = 0;
    byReference(target);
    EXPECT_EQ(7, target);
}

TEST(Function, AVoidSignatureDropsTheCallablesResult)
{
    int calls = 0;
    Oru::function<void(int)> dropping([&calls](int value) {
        ++calls;
        return value * 2;
    });
    dropping(3);
    EXPECT_EQ(1, calls);
}

TEST(Function, TellsWhetherItHoldsACallable)
{
    EXPECT_FALSE(Oru::function<void()>());
    EXPECT_TRUE(Oru::function<void()>([] {}));
}

}  // namespace
