-- The rows every database needs whatever its product: the error texts in the three languages,
-- the caption of the department item, the supported procedures and the rights of the
-- administrator (user 1). Part of each product's seed.sql, which adds its data type catalogue.

INSERT INTO CB_BmErrCode (FCode, FDescriptive, FDescriptive_CHT, FDescriptive_EN) VALUES
  (10000, '必须输入',             '必須輸入',             'A value is required'),
  (10004, '数据类型不正确',       '資料類型不正確',       'The value has the wrong data type'),
  (10005, '数据长度超出范围',     '資料長度超出範圍',     'The value is too long'),
  (10006, '该值已经存在',         '該值已經存在',         'The value is already in use'),
  (10007, '记录已经存在',         '記錄已經存在',         'The record already exists'),
  (10008, '记录不存在',           '記錄不存在',           'The record does not exist'),
  (10009, '不是允许的取值',       '不是允許的取值',       'The value is not one of the allowed values'),
  (10010, '对应的数据不存在',     '對應的資料不存在',     'No matching data exists');

INSERT INTO CB_BmErrItem (FItem, FDescriptive) VALUES
  (10036, '费用部门');

INSERT INTO t_SupportedProc (FProcName) VALUES
  ('p_CB_CopyVchTempSet'),
  ('p_CB_ClearVchTempSet'),
  ('p_CB_CheckExpDept');

-- User 1 (the administrator that `morvane init` names in its connection description) holds every
-- right on the voucher template settings (object type 155, identifier 1).
INSERT INTO t_AccessRight (FUserID, FObjectType, FObjectID, FAccessMask) VALUES
  (1, 155, 1, -1);
