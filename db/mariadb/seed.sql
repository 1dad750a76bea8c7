-- The data every database needs (db/shared/seed.sql) and the data type catalogue of MariaDB:
-- texts in the table's utf8mb4 (VARCHAR up to 16383 characters in a row), DECIMAL up to 65 digits
-- (bound as doubles), BOOLEAN as MariaDB's TINYINT(1).

-- include shared/seed.sql

-- FMaxPrecision NULL: the type takes no precision (and FActualSize NULL then keeps the size the
-- caller gives).
INSERT INTO t_DataTypeInfo
  (FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FBindType, FActualSize) VALUES
  (2, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (3, 'INT', NULL, NULL, NULL, 3, 3, NULL),
  (4, 'FLOAT', NULL, NULL, NULL, 4, 4, NULL),
  (5, 'DOUBLE', NULL, NULL, NULL, 5, 5, NULL),
  (6, 'DECIMAL(19,4)', NULL, NULL, NULL, 6, 6, NULL),
  (7, 'DATETIME', NULL, NULL, NULL, 7, 7, NULL),
  (11, 'BOOLEAN', NULL, NULL, NULL, 11, 11, NULL),
  (14, 'DECIMAL()', 65, 0, 30, 14, 5, NULL),
  (16, 'TINYINT', NULL, NULL, NULL, 16, 2, NULL),
  (17, 'TINYINT UNSIGNED', NULL, NULL, NULL, 17, 17, NULL),
  (20, 'BIGINT', NULL, NULL, NULL, 20, 20, NULL),
  (72, 'CHAR(38)', NULL, NULL, NULL, 72, 202, 38),
  (128, 'BINARY()', 255, NULL, NULL, 128, 128, NULL),
  (129, 'CHAR()', 255, NULL, NULL, 129, 200, NULL),
  (130, 'CHAR()', 255, NULL, NULL, 130, 202, NULL),
  (131, 'DECIMAL()', 65, 0, 30, 131, 5, NULL),
  (133, 'DATE', NULL, NULL, NULL, 133, 133, NULL),
  (134, 'TIME', NULL, NULL, NULL, 134, 134, NULL),
  (135, 'DATETIME', NULL, NULL, NULL, 135, 135, NULL),
  (200, 'VARCHAR()', 16383, NULL, NULL, 200, 200, NULL),
  (201, 'LONGTEXT', NULL, NULL, NULL, 201, 201, NULL),
  (202, 'VARCHAR()', 16383, NULL, NULL, 202, 202, NULL),
  (203, 'LONGTEXT', NULL, NULL, NULL, 203, 203, NULL),
  (204, 'VARBINARY()', 65532, NULL, NULL, 204, 204, NULL),
  (205, 'LONGBLOB', NULL, NULL, NULL, 205, 205, NULL);
