#include "platform/db/ambient_transaction.h"

namespace morvane::db {

namespace {
thread_local AmbientTransaction* current = nullptr;
}

AmbientTransaction* CurrentAmbientTransaction() { return current; }

AmbientTransaction* SetCurrentAmbientTransaction(AmbientTransaction* transaction) {
  AmbientTransaction* previous = current;
  current = transaction;
  return previous;
}

}  // namespace morvane::db
