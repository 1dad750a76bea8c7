-- The tables of the cost-accounting voucher template settings on SQL Server (the same tables as
-- db/sqlite/schema.sql), reached through FreeTDS. Texts are NVARCHAR; the statements of the list
-- queries carry Chinese names as plain literals, so the database's collation should be a Chinese
-- one (Chinese_PRC_CI_AS) or a UTF-8 one (SQL Server 2019: Latin1_General_100_CI_AS_SC_UTF8).
-- `morvane init --connect` runs this script, then seed.sql (and demo.sql with --demo), in one
-- transaction.

-- Voucher template settings: per voucher class, category, department and expense.
CREATE TABLE CB_CostVchTempSet (
  FVchClass      NVARCHAR(250) NOT NULL,
  FTypeID        NVARCHAR(250) NOT NULL,
  FTypeName      NVARCHAR(250),
  FExpDeptID     NVARCHAR(250) NOT NULL,
  FExpDeptName   NVARCHAR(250),
  FExpenseID     NVARCHAR(250) NOT NULL,
  FExpenseName   NVARCHAR(250),
  FAcctID        INT,
  FAcctName      NVARCHAR(250),
  FItemClassID   INT,
  FItemClassName NVARCHAR(250),
  FItemID        INT,
  FItemName      NVARCHAR(250),
  FRemark        NVARCHAR(255),
  FGroupID       INT,
  FGroupName     NVARCHAR(250),
  -- Nonclustered: four NVARCHAR(250) columns exceed the 900 bytes of a clustered key; SQL Server
  -- warns at creation and refuses only a key longer than 1700 bytes.
  PRIMARY KEY NONCLUSTERED (FVchClass, FTypeID, FExpDeptID, FExpenseID)
);

-- Expense departments: FType 0 for basic production departments, 1 for auxiliary production.
CREATE TABLE CB_BmExpDept (
  FID   NVARCHAR(250) NOT NULL PRIMARY KEY,
  FName NVARCHAR(250),
  FType INT NOT NULL DEFAULT 0
);

CREATE TABLE CB_BmExpense (
  FID   NVARCHAR(250) NOT NULL PRIMARY KEY,
  FName NVARCHAR(250)
);

-- Texts of the error codes in simplified Chinese, traditional Chinese and English.
CREATE TABLE CB_BmErrCode (
  FCode            INT PRIMARY KEY,
  FDescriptive     NVARCHAR(255),
  FDescriptive_CHT NVARCHAR(255),
  FDescriptive_EN  NVARCHAR(255)
);

-- Captions of the error items (as a rule, one field of a table).
CREATE TABLE CB_BmErrItem (
  FItem        INT PRIMARY KEY,
  FDescriptive NVARCHAR(255)
);

-- The data type catalogue: for each data type code, the database's type name (with "()" where
-- precision and scale go), the limits, and the type and size that values are bound with.
CREATE TABLE t_DataTypeInfo (
  FDataType     INT NOT NULL PRIMARY KEY,
  FTypeName     NVARCHAR(128) NOT NULL,
  FMaxPrecision INT,
  FMinScale     INT,
  FMaxScale     INT,
  FActualType   INT NOT NULL,
  FBindType     INT NOT NULL,
  FActualSize   INT
);

-- Stored procedures the database offers (part of the database profile).
CREATE TABLE t_SupportedProc (
  FProcName NVARCHAR(128) NOT NULL PRIMARY KEY
);

-- Rights of the security service: a user may act on an object (type and identifier) with every
-- access bit that FAccessMask holds (-1 holds all of them).
CREATE TABLE t_AccessRight (
  FUserID     INT NOT NULL,
  FObjectType INT NOT NULL,
  FObjectID   INT NOT NULL,
  FAccessMask INT NOT NULL,
  PRIMARY KEY (FUserID, FObjectType, FObjectID)
);
