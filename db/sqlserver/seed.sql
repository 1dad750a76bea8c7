-- The data every database needs (the rows of db/shared/seed.sql) and the data type catalogue of
-- SQL Server. Literals with Chinese characters are written N'...' so that they reach NVARCHAR columns
-- unchanged whatever the database's collation.

INSERT INTO CB_BmErrCode (FCode, FDescriptive, FDescriptive_CHT, FDescriptive_EN) VALUES
  (10000, N'必须输入',             N'必須輸入',             'A value is required'),
  (10004, N'数据类型不正确',       N'資料類型不正確',       'The value has the wrong data type'),
  (10005, N'数据长度超出范围',     N'資料長度超出範圍',     'The value is too long'),
  (10006, N'该值已经存在',         N'該值已經存在',         'The value is already in use'),
  (10007, N'记录已经存在',         N'記錄已經存在',         'The record already exists'),
  (10008, N'记录不存在',           N'記錄不存在',           'The record does not exist'),
  (10009, N'不是允许的取值',       N'不是允許的取值',       'The value is not one of the allowed values'),
  (10010, N'对应的数据不存在',     N'對應的資料不存在',     'No matching data exists');

INSERT INTO CB_BmErrItem (FItem, FDescriptive) VALUES
  (10036, N'费用部门');

-- FMaxPrecision NULL: the type takes no precision (and FActualSize NULL then keeps the size the
-- caller gives). TINYINT is unsigned on SQL Server, so the signed byte is a SMALLINT.
INSERT INTO t_DataTypeInfo
  (FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FBindType, FActualSize) VALUES
  (2, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (3, 'INT', NULL, NULL, NULL, 3, 3, NULL),
  (4, 'REAL', NULL, NULL, NULL, 4, 4, NULL),
  (5, 'FLOAT', NULL, NULL, NULL, 5, 5, NULL),
  (6, 'MONEY', NULL, NULL, NULL, 6, 6, NULL),
  (7, 'DATETIME', NULL, NULL, NULL, 7, 7, NULL),
  (11, 'BIT', NULL, NULL, NULL, 11, 11, NULL),
  (14, 'DECIMAL()', 38, 0, 38, 14, 5, NULL),
  (16, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (17, 'TINYINT', NULL, NULL, NULL, 17, 17, NULL),
  (20, 'BIGINT', NULL, NULL, NULL, 20, 20, NULL),
  (72, 'UNIQUEIDENTIFIER', NULL, NULL, NULL, 72, 202, 38),
  (128, 'BINARY()', 8000, NULL, NULL, 128, 128, NULL),
  (129, 'CHAR()', 8000, NULL, NULL, 129, 200, NULL),
  (130, 'NCHAR()', 4000, NULL, NULL, 130, 202, NULL),
  (131, 'NUMERIC()', 38, 0, 38, 131, 5, NULL),
  (133, 'DATE', NULL, NULL, NULL, 133, 133, NULL),
  (134, 'TIME', NULL, NULL, NULL, 134, 134, NULL),
  (135, 'DATETIME', NULL, NULL, NULL, 135, 135, NULL),
  (200, 'VARCHAR()', 8000, NULL, NULL, 200, 200, NULL),
  (201, 'VARCHAR(MAX)', NULL, NULL, NULL, 201, 201, NULL),
  (202, 'NVARCHAR()', 4000, NULL, NULL, 202, 202, NULL),
  (203, 'NVARCHAR(MAX)', NULL, NULL, NULL, 203, 203, NULL),
  (204, 'VARBINARY()', 8000, NULL, NULL, 204, 204, NULL),
  (205, 'VARBINARY(MAX)', NULL, NULL, NULL, 205, 205, NULL);

INSERT INTO t_SupportedProc (FProcName) VALUES
  ('p_CB_CopyVchTempSet'),
  ('p_CB_ClearVchTempSet'),
  ('p_CB_CheckExpDept');

-- User 1 (the administrator that `morvane init` names in its connection description) holds every
-- right on the voucher template settings (object type 155, identifier 1).
INSERT INTO t_AccessRight (FUserID, FObjectType, FObjectID, FAccessMask) VALUES
  (1, 155, 1, -1);
