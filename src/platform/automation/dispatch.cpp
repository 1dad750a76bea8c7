#include "platform/automation/dispatch.h"

namespace morvane::automation {

std::atomic<long> Dispatch::live_{0};

Dispatch::Dispatch() { live_.fetch_add(1, std::memory_order_relaxed); }
Dispatch::~Dispatch() { live_.fetch_sub(1, std::memory_order_relaxed); }
long Dispatch::LiveObjects() { return live_.load(std::memory_order_relaxed); }

}  // namespace morvane::automation
