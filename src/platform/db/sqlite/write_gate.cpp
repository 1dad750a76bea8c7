#include "platform/db/sqlite/write_gate.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_map>

namespace morvane::db::sqlite {

std::shared_ptr<WriteGate> WriteGate::For(const std::string& path) {
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::canonical(path, ec);
  const std::string key = ec ? path : canonical.string();

  static std::mutex tableMutex;
  static std::unordered_map<std::string, std::weak_ptr<WriteGate>> table;  // guarded by tableMutex
  std::lock_guard lock(tableMutex);
  if (auto gate = table[key].lock()) return gate;
  // Gates nobody holds any more are dropped as new ones are made, so the table stays as small as
  // the set of files in use.
  std::erase_if(table, [](const auto& entry) { return entry.second.expired(); });
  auto gate = std::make_shared<WriteGate>();
  table[key] = gate;
  return gate;
}

bool WriteGate::Enter(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  queue_.push_back(ticket);
  const bool entered =
      turn_.wait_for(lock, timeout, [&] { return !occupied_ && queue_.front() == ticket; });
  if (!entered) {
    queue_.erase(std::find(queue_.begin(), queue_.end(), ticket));
    turn_.notify_all();  // the one behind may be first now
    return false;
  }
  queue_.pop_front();
  occupied_ = true;
  return true;
}

void WriteGate::Leave() noexcept {
  {
    std::lock_guard lock(mutex_);
    occupied_ = false;
  }
  turn_.notify_all();
}

}  // namespace morvane::db::sqlite
