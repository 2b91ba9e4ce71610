// Bounded waiting for tests: every wait in the suite has an end.
#pragma once

#include <cstdint>
#include <functional>

// Polls `done` every 10 ms for up to `timeout_ms`; true once it holds.
bool wait_until(const std::function<bool()>& done, uint32_t timeout_ms);
