-- The data every database needs (db/shared/seed.sql) and the data type catalogue of
-- PostgreSQL: no unsigned or one-byte integers (both are SMALLINT), UUID for GUIDs (bound as
-- text), BYTEA for every binary type, NUMERIC up to 1000 digits (bound as doubles).

-- include shared/seed.sql

-- FMaxPrecision NULL: the type takes no precision (and FActualSize NULL then keeps the size the
-- caller gives).
INSERT INTO t_DataTypeInfo
  (FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FBindType, FActualSize) VALUES
  (2, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (3, 'INTEGER', NULL, NULL, NULL, 3, 3, NULL),
  (4, 'REAL', NULL, NULL, NULL, 4, 4, NULL),
  (5, 'DOUBLE PRECISION', NULL, NULL, NULL, 5, 5, NULL),
  (6, 'NUMERIC(19,4)', NULL, NULL, NULL, 6, 6, NULL),
  (7, 'TIMESTAMP', NULL, NULL, NULL, 7, 7, NULL),
  (11, 'BOOLEAN', NULL, NULL, NULL, 11, 11, NULL),
  (14, 'NUMERIC()', 1000, 0, 1000, 14, 5, NULL),
  (16, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (17, 'SMALLINT', NULL, NULL, NULL, 2, 2, NULL),
  (20, 'BIGINT', NULL, NULL, NULL, 20, 20, NULL),
  (72, 'UUID', NULL, NULL, NULL, 72, 202, 38),
  (128, 'BYTEA', NULL, NULL, NULL, 128, 128, NULL),
  (129, 'CHAR()', 10485760, NULL, NULL, 129, 200, NULL),
  (130, 'CHAR()', 10485760, NULL, NULL, 130, 202, NULL),
  (131, 'NUMERIC()', 1000, 0, 1000, 131, 5, NULL),
  (133, 'DATE', NULL, NULL, NULL, 133, 133, NULL),
  (134, 'TIME', NULL, NULL, NULL, 134, 134, NULL),
  (135, 'TIMESTAMP', NULL, NULL, NULL, 135, 135, NULL),
  (200, 'VARCHAR()', 10485760, NULL, NULL, 200, 200, NULL),
  (201, 'TEXT', NULL, NULL, NULL, 201, 201, NULL),
  (202, 'VARCHAR()', 10485760, NULL, NULL, 202, 202, NULL),
  (203, 'TEXT', NULL, NULL, NULL, 203, 203, NULL),
  (204, 'BYTEA', NULL, NULL, NULL, 204, 204, NULL),
  (205, 'BYTEA', NULL, NULL, NULL, 205, 205, NULL);
