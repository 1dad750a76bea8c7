-- The tables of the cost-accounting voucher template settings on PostgreSQL (the same tables as
-- db/sqlite/schema.sql). PostgreSQL has no NVARCHAR: its VARCHAR holds any character of the
-- database's encoding, which must be UTF8. Names are written unquoted, so PostgreSQL keeps them in
-- lower case; the ODBC provider gives result columns the spelling of the statement text.
-- `morvane init --connect` runs this script, then seed.sql (and demo.sql with --demo), in one
-- transaction.

-- Voucher template settings: per voucher class, category, department and expense.
CREATE TABLE CB_CostVchTempSet (
  FVchClass      VARCHAR(250) NOT NULL,
  FTypeID        VARCHAR(250) NOT NULL,
  FTypeName      VARCHAR(250),
  FExpDeptID     VARCHAR(250) NOT NULL,
  FExpDeptName   VARCHAR(250),
  FExpenseID     VARCHAR(250) NOT NULL,
  FExpenseName   VARCHAR(250),
  FAcctID        INTEGER,
  FAcctName      VARCHAR(250),
  FItemClassID   INTEGER,
  FItemClassName VARCHAR(250),
  FItemID        INTEGER,
  FItemName      VARCHAR(250),
  FRemark        VARCHAR(255),
  FGroupID       INTEGER,
  FGroupName     VARCHAR(250),
  PRIMARY KEY (FVchClass, FTypeID, FExpDeptID, FExpenseID)
);

-- Expense departments: FType 0 for basic production departments, 1 for auxiliary production.
CREATE TABLE CB_BmExpDept (
  FID   VARCHAR(250) NOT NULL PRIMARY KEY,
  FName VARCHAR(250),
  FType INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE CB_BmExpense (
  FID   VARCHAR(250) NOT NULL PRIMARY KEY,
  FName VARCHAR(250)
);

-- Texts of the error codes in simplified Chinese, traditional Chinese and English.
CREATE TABLE CB_BmErrCode (
  FCode            INTEGER PRIMARY KEY,
  FDescriptive     VARCHAR(255),
  FDescriptive_CHT VARCHAR(255),
  FDescriptive_EN  VARCHAR(255)
);

-- Captions of the error items (as a rule, one field of a table).
CREATE TABLE CB_BmErrItem (
  FItem        INTEGER PRIMARY KEY,
  FDescriptive VARCHAR(255)
);

-- The data type catalogue: for each data type code, the database's type name (with "()" where
-- precision and scale go), the limits, and the type and size that values are bound with.
CREATE TABLE t_DataTypeInfo (
  FDataType     INTEGER NOT NULL PRIMARY KEY,
  FTypeName     VARCHAR(128) NOT NULL,
  FMaxPrecision INTEGER,
  FMinScale     INTEGER,
  FMaxScale     INTEGER,
  FActualType   INTEGER NOT NULL,
  FBindType     INTEGER NOT NULL,
  FActualSize   INTEGER
);

-- Stored procedures the database offers (part of the database profile).
CREATE TABLE t_SupportedProc (
  FProcName VARCHAR(128) NOT NULL PRIMARY KEY
);

-- Rights of the security service: a user may act on an object (type and identifier) with every
-- access bit that FAccessMask holds (-1 holds all of them).
CREATE TABLE t_AccessRight (
  FUserID     INTEGER NOT NULL,
  FObjectType INTEGER NOT NULL,
  FObjectID   INTEGER NOT NULL,
  FAccessMask INTEGER NOT NULL,
  PRIMARY KEY (FUserID, FObjectType, FObjectID)
);
