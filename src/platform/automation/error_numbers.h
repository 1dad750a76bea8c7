// The system's error numbers: one name for each number that the system raises or answers with,
// and when it is raised. Every layer takes its numbers from here. The data-access objects' own
// numbers are the ErrorValueEnum of platform/db/ado_constants.h (3001, 3021, 3265, 3704 ...),
// with their texts in platform/db/data_error.h; a provider's errors carry the database's own code
// on the provider's base below.
#pragma once

#include <cstdint>

namespace morvane::automation::errors {

// --- Standard run-time errors, with their standard texts (StandardErrorText) --------------------
constexpr std::int32_t kInvalidProcedureCall = 5;  // a missing entry, a bad argument; the host's malformed request
constexpr std::int32_t kOverflow = 6;              // a conversion out of the target type's range
constexpr std::int32_t kSubscriptOutOfRange = 9;   // an index outside a list
constexpr std::int32_t kTypeMismatch = 13;         // a value that does not convert to the type asked for
constexpr std::int32_t kInternalError = 51;        // a failure that is no numbered error (a C++ exception)
constexpr std::int32_t kFileNotFound = 53;         // the resource loader finds no catalogue file
constexpr std::int32_t kPermissionDenied = 70;     // the security service refuses; the host's 401 and 403
constexpr std::int32_t kObjectNotSet = 91;         // no object (no object context, Nothing)
constexpr std::int32_t kInvalidUseOfNull = 94;     // Null where a value is needed
constexpr std::int32_t kInvalidResourceFormat = 325;  // a catalogue file that cannot be read
constexpr std::int32_t kResourceNotFound = 326;    // a key that the catalogue does not hold
constexpr std::int32_t kCannotCreateObject = 429;  // no class of that ProgID; the host's unknown class
constexpr std::int32_t kNoSuchMember = 438;        // no member of that name or DISPID
constexpr std::int32_t kArgumentNotOptional = 449;  // a required argument is missing
constexpr std::int32_t kWrongArgumentCount = 450;  // more arguments than parameters
constexpr std::int32_t kDuplicateKey = 457;        // a description or record names a key twice

// --- The component's own numbers (texts from CB_BmErrCode, or fixed messages) -------------------
constexpr std::int32_t kUpdateKeyIncomplete = 1;        // Update: the filter does not name the whole key
constexpr std::int32_t kUpdateInsertKeyIncomplete = 2;  // UpdateInsert: a row does not name the whole key
constexpr std::int32_t kRequiredValueMissing = 10000;   // a required field has no value
constexpr std::int32_t kValueNotConvertible = 10004;    // a value does not convert to its field's type
constexpr std::int32_t kValueTooLong = 10005;           // a text longer than its field's size
constexpr std::int32_t kIndexValueStored = 10006;       // a value of a unique index is stored already
constexpr std::int32_t kKeyStored = 10007;              // the key of a new row is stored already
constexpr std::int32_t kKeyNotStored = 10008;           // the key of a changed row is not stored
constexpr std::int32_t kLayoutMismatch = 10009;         // a value does not fit its field's layout
constexpr std::int32_t kRowNotFound = 10010;  // no row matches: a referenced value, or the row to update
constexpr std::int32_t kCodeInUse = 12222;    // a code in use elsewhere can be neither changed nor deleted

// --- The transaction runtime --------------------------------------------------------------------
// A transaction that has ended (or was never held) is used; the host's unknown held transaction.
constexpr std::int32_t kTransactionEnded = static_cast<std::int32_t>(0x8004D00Eu);
// A transaction that a vote doomed is committed (nothing is kept).
constexpr std::int32_t kTransactionAborted = static_cast<std::int32_t>(0x8004E002u);
// A shared property or group that does not exist is read by position.
constexpr std::int32_t kSharedPropertyNotFound = static_cast<std::int32_t>(0x80110820u);

// --- The network host's held transactions -----------------------------------------------------
// A call waited for a held transaction that another of its calls kept busy longer than the
// request timeout (RPC_E_SERVERCALL_RETRYLATER: busy, try again later); the host's 409.
constexpr std::int32_t kTransactionBusy = static_cast<std::int32_t>(0x8001010Au);
// A transaction is asked for while the client, or the host in all, holds as many as its cap
// allows (ERROR_REQ_NOT_ACCEP as an HRESULT: no more are accepted for now); the host's 429.
constexpr std::int32_t kTooManyTransactions = static_cast<std::int32_t>(0x80070047u);

// --- Providers: the base plus the database's own code -------------------------------------------
constexpr std::int32_t kSqliteErrorBase = static_cast<std::int32_t>(0x80048000u);
constexpr std::int32_t kOdbcErrorBase = static_cast<std::int32_t>(0x80060000u);

}  // namespace morvane::automation::errors
