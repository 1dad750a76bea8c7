#include "platform/db/provider.h"

#include <atomic>
#include <string>

#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/connection_string.h"
#include "platform/db/data_error.h"
#include "platform/db/odbc/odbc_provider.h"
#include "platform/db/sqlite/sqlite_provider.h"

namespace morvane::db {

namespace {
std::atomic<Provider*> providerOverride{nullptr};
}

Provider& ProviderFor(std::string_view connectionString) {
  if (Provider* provider = providerOverride.load()) return *provider;

  const ConnectionString cs = ConnectionString::Parse(connectionString);
  if (const std::string* name = cs.Find("Provider")) {
    if (automation::EqualsIgnoreCase(*name, "SQLite")) return sqlite::SqliteProvider::Instance();
    RaiseDataError(adErrProviderNotFound, "the provider '" + *name +
                                              "' is not available in this build; it has the SQLite provider "
                                              "('Provider=SQLite;Data Source=PATH')");
  }
  if (cs.Find("Driver") != nullptr || cs.Find("DSN") != nullptr) return odbc::OdbcProvider::Instance();
  RaiseDataError(adErrProviderNotFound,
                 "the connection string names no provider: expected 'Provider=SQLite;Data Source=PATH' or an ODBC "
                 "string with Driver=... or DSN=...");
}

void SetProviderOverride(Provider* provider) { providerOverride.store(provider); }

}  // namespace morvane::db
