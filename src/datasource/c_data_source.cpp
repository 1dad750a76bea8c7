#include "datasource/c_data_source.h"

#include "platform/automation/error.h"
#include "platform/db/recordset.h"

namespace morvane::datasource {

namespace {
// Sent as they stand, whatever the database product (the unusual spelling of the second included).
constexpr const char* kReadCommitted = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";
constexpr const char* kReadUncommitted = "SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED";
}  // namespace

std::shared_ptr<db::Connection> CDataSource::Connection() const { return OpenWithIsolation(kReadCommitted); }

std::shared_ptr<db::Connection> CDataSource::UnCommittedConnection() const {
  return OpenWithIsolation(kReadUncommitted);
}

// Every call opens a new connection; the data source keeps none. The connection string is read
// first, so that a description without one fails before anything is opened. A failure of Open
// or of the isolation statement passes to the caller, and the half-made connection is closed as
// it goes out of scope.
std::shared_ptr<db::Connection> CDataSource::OpenWithIsolation(const char* statement) const {
  if (!ParseObject) automation::Raise(automation::errors::kObjectNotSet);
  const std::string connectString = ConnectString();

  auto cn = db::Connection::New();
  cn->Open(connectString, "", "", db::adOptionUnspecified);
  cn->CursorLocation = db::adUseClient;
  cn->CommandTimeout = 0;
  cn->Execute(statement, nullptr, db::adOptionUnspecified);  // its recordset is released at once
  return cn;
}

}  // namespace morvane::datasource
