#pragma once

// Waiting in tests for what another thread, a timer or the message loop does: the condition is
// polled until a deadline far beyond what a busy machine under a sanitizer needs, and a test that
// runs out names what it waited for. Only the deadline is a time.
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace ktotest
{
inline constexpr std::chrono::seconds waitDeadline { 120 };

// polls done() until it holds. On the message thread messages are dispatched between polls, so
// timers tick meanwhile; elsewhere the thread rests briefly between polls.
template <typename Condition>
::testing::AssertionResult waitFor (const char* what, Condition&& done)
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    const bool dispatch = mm != nullptr && mm->isThisTheMessageThread();
    const auto end = std::chrono::steady_clock::now() + waitDeadline;
    while (! done())
    {
        if (std::chrono::steady_clock::now() > end)
            return ::testing::AssertionFailure() << "gave up after " << waitDeadline.count() << " s waiting for " << what;
        if (dispatch)
            mm->runDispatchLoopUntil (5);
        else
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return ::testing::AssertionSuccess();
}
} // namespace ktotest
