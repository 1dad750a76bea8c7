-- The tables of the cost-accounting voucher template settings on SQLite: the settings, the
-- departments and expenses they are keyed on, the error tables, the data type catalogue, the list
-- of supported procedures and the rights table of the security service. `morvane init` runs this
-- script, then seed.sql (and demo.sql with --demo), in one transaction.

-- Voucher template settings: per voucher class, category, department and expense.
CREATE TABLE CB_CostVchTempSet (
  FVchClass      NVARCHAR(250) NOT NULL,
  FTypeID        NVARCHAR(250) NOT NULL,
  FTypeName      NVARCHAR(250),
  FExpDeptID     NVARCHAR(250) NOT NULL,
  FExpDeptName   NVARCHAR(250),
  FExpenseID     NVARCHAR(250) NOT NULL,
  FExpenseName   NVARCHAR(250),
  FAcctID        INTEGER,
  FAcctName      NVARCHAR(250),
  FItemClassID   INTEGER,
  FItemClassName NVARCHAR(250),
  FItemID        INTEGER,
  FItemName      NVARCHAR(250),
  FRemark        NVARCHAR(255),
  FGroupID       INTEGER,
  FGroupName     NVARCHAR(250),
  PRIMARY KEY (FVchClass, FTypeID, FExpDeptID, FExpenseID)
);

-- Expense departments: FType 0 for basic production departments, 1 for auxiliary production.
CREATE TABLE CB_BmExpDept (
  FID   NVARCHAR(250) NOT NULL PRIMARY KEY,
  FName NVARCHAR(250),
  FType INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE CB_BmExpense (
  FID   NVARCHAR(250) NOT NULL PRIMARY KEY,
  FName NVARCHAR(250)
);

-- Texts of the error codes in simplified Chinese, traditional Chinese and English.
CREATE TABLE CB_BmErrCode (
  FCode            INTEGER PRIMARY KEY,
  FDescriptive     NVARCHAR(255),
  FDescriptive_CHT NVARCHAR(255),
  FDescriptive_EN  NVARCHAR(255)
);

-- Captions of the error items (as a rule, one field of a table).
CREATE TABLE CB_BmErrItem (
  FItem        INTEGER PRIMARY KEY,
  FDescriptive NVARCHAR(255)
);

-- The data type catalogue: for each data type code, the database's type name (with "()" where
-- precision and scale go), the limits, and the type and size that values are bound with.
CREATE TABLE t_DataTypeInfo (
  FDataType     INTEGER NOT NULL PRIMARY KEY,
  FTypeName     NVARCHAR(128) NOT NULL,
  FMaxPrecision INTEGER,
  FMinScale     INTEGER,
  FMaxScale     INTEGER,
  FActualType   INTEGER NOT NULL,
  FBindType     INTEGER NOT NULL,
  FActualSize   INTEGER
);

-- Stored procedures the database offers (part of the database profile).
CREATE TABLE t_SupportedProc (
  FProcName NVARCHAR(128) NOT NULL PRIMARY KEY
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
