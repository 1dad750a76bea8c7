-- The sample rows of `morvane init --demo`, the same for every product but SQL Server (whose
-- texts need the N prefix: db/sqlserver/demo.sql).

INSERT INTO CB_BmExpDept (FID, FName, FType) VALUES
  ('01', '一车间',   0),
  ('02', '二车间',   0),
  ('03', '装配车间', 0),
  ('11', '机修车间', 1),
  ('12', '供电车间', 1);

INSERT INTO CB_BmExpense (FID, FName) VALUES
  ('501', '工资及福利费'),
  ('502', '折旧费'),
  ('503', '水电费'),
  ('504', '机物料消耗');

-- Category 301 keys a department alone (the expense columns name the cost item); 201 pairs an
-- auxiliary department with a basic one; 302 and 202 pair a department with an expense, 302 also
-- with the pseudo expense AssistExpenseID.
INSERT INTO CB_CostVchTempSet
  (FVchClass, FTypeID, FTypeName, FExpDeptID, FExpDeptName, FExpenseID, FExpenseName,
   FAcctID, FAcctName, FItemClassID, FItemClassName, FItemID, FItemName, FRemark, FGroupID, FGroupName) VALUES
  ('01', '301', '成本项目', '01', '一车间', '101', '直接材料',
   4101, '生产成本-基本生产成本', 2, '部门', 1, '一车间', '一车间耗用材料', 1, '基本生产'),
  ('01', '301', '成本项目', '02', '二车间', '102', '直接人工',
   4101, '生产成本-基本生产成本', 2, '部门', 2, '二车间', '二车间人工', 1, '基本生产'),
  ('01', '201', '辅助生产费用', '11', '机修车间', '01', '一车间',
   4101, '生产成本-辅助生产成本', 2, '部门', 1, '一车间', '机修费用分配', 2, '辅助生产'),
  ('01', '302', '制造费用', '01', '一车间', '502', '折旧费',
   4105, '制造费用', NULL, NULL, NULL, NULL, '车间折旧', 0, ''),
  ('01', '302', '制造费用', '01', '一车间', 'AssistExpenseID', '辅助费用',
   4105, '制造费用', NULL, NULL, NULL, NULL, '辅助费用转入', 0, ''),
  ('01', '202', '辅助生产费用', '12', '供电车间', '503', '水电费',
   4101, '生产成本-辅助生产成本', 2, '部门', 12, '供电车间', '供电水电费', 2, '辅助生产'),
  ('02', '301', '成本项目', '03', '装配车间', '101', '直接材料',
   4101, '生产成本-基本生产成本', 2, '部门', 3, '装配车间', '装配材料', 0, ''),
  ('02', '302', '制造费用', '02', '二车间', '501', '工资及福利费',
   4105, '制造费用', NULL, NULL, NULL, NULL, '二车间管理人员工资', 0, ''),
  ('02', '202', '辅助生产费用', '11', '机修车间', '504', '机物料消耗',
   4101, '生产成本-辅助生产成本', 2, '部门', 11, '机修车间', '机修物料', 2, '辅助生产');
