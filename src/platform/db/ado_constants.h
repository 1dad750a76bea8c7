// The data-access constants that the system's statements and objects use (values of the platform
// the code was written for), and the data type codes columns and parameters are reported in.
#pragma once

namespace morvane::db {

enum CursorLocationEnum { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum { adOpenUnspecified = -1, adOpenForwardOnly = 0 };
enum LockTypeEnum { adLockUnspecified = -1, adLockReadOnly = 1 };
enum CommandTypeEnum { adCmdUnspecified = -1, adCmdText = 1, adCmdTable = 2 };
enum ParameterDirectionEnum { adParamInput = 1 };
enum ExecuteOptionEnum { adOptionUnspecified = -1, adExecuteNoRecords = 0x80 };

enum DataTypeEnum {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adBoolean = 11,
  adDecimal = 14,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adBigInt = 20,
  adGUID = 72,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

// The numbers of the data-access objects' own errors (texts in data_error.h).
enum ErrorValueEnum {
  adErrInvalidArgument = 3001,
  adErrNoCurrentRecord = 3021,
  adErrItemNotFound = 3265,
  adErrObjectClosed = 3704,
  adErrObjectOpen = 3705,
  adErrProviderNotFound = 3706,
  adErrInvalidConnection = 3709,
};

}  // namespace morvane::db
