-- The data every database needs: the error texts in the three languages, the caption of the
-- department item, the data type catalogue of SQLite, the supported procedures and the rights of
-- the administrator (user 1).

-- include shared/seed.sql

-- FMaxPrecision NULL: the type takes no precision (and FActualSize NULL then keeps the size the
-- caller gives). SQLite stores every text as UTF-8 and has no fixed-point type: the text types
-- bind as texts, decimals as doubles, the signed byte as a 16-bit integer, a GUID as its text.
INSERT INTO t_DataTypeInfo
  (FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FBindType, FActualSize) VALUES
  (2,   'SMALLINT',         NULL, NULL, NULL, 2,   2,   NULL),
  (3,   'INTEGER',          NULL, NULL, NULL, 3,   3,   NULL),
  (4,   'REAL',             NULL, NULL, NULL, 4,   4,   NULL),
  (5,   'DOUBLE',           NULL, NULL, NULL, 5,   5,   NULL),
  (6,   'DECIMAL(19,4)',    NULL, NULL, NULL, 6,   6,   NULL),
  (7,   'DATETIME',         NULL, NULL, NULL, 7,   7,   NULL),
  (11,  'BOOLEAN',          NULL, NULL, NULL, 11,  11,  NULL),
  (14,  'DECIMAL()',        28,   0,    28,   14,  5,   NULL),
  (16,  'TINYINT',          NULL, NULL, NULL, 16,  2,   NULL),
  (17,  'UNSIGNED TINYINT', NULL, NULL, NULL, 17,  17,  NULL),
  (20,  'BIGINT',           NULL, NULL, NULL, 20,  20,  NULL),
  (72,  'CHAR(38)',         NULL, NULL, NULL, 72,  202, 38),
  (128, 'BINARY()',         8000, NULL, NULL, 128, 128, NULL),
  (129, 'CHAR()',           8000, NULL, NULL, 129, 200, NULL),
  (130, 'NCHAR()',          4000, NULL, NULL, 130, 202, NULL),
  (131, 'NUMERIC()',        28,   0,    28,   131, 5,   NULL),
  (133, 'DATE',             NULL, NULL, NULL, 133, 133, NULL),
  (134, 'TIME',             NULL, NULL, NULL, 134, 134, NULL),
  (135, 'DATETIME',         NULL, NULL, NULL, 135, 135, NULL),
  (200, 'VARCHAR()',        8000, NULL, NULL, 200, 200, NULL),
  (201, 'TEXT',             NULL, NULL, NULL, 201, 201, NULL),
  (202, 'NVARCHAR()',       4000, NULL, NULL, 202, 202, NULL),
  (203, 'NTEXT',            NULL, NULL, NULL, 203, 203, NULL),
  (204, 'VARBINARY()',      8000, NULL, NULL, 204, 204, NULL),
  (205, 'BLOB',             NULL, NULL, NULL, 205, 205, NULL);
