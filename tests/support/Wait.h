#pragma once

#include <chrono>
#include <functional>

// Polls until pred holds, without running Qt's event loop (QTest::qWaitFor does); the limit only keeps
// a broken engine from hanging the test.
bool waitUntil(const std::function<bool()> &pred, std::chrono::milliseconds limit = std::chrono::seconds(10));
