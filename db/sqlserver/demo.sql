-- The sample rows of db/shared/demo.sql for SQL Server, its texts written N'...'
-- (`morvane init --connect ... --demo`).

INSERT INTO CB_BmExpDept (FID, FName, FType) VALUES
  ('01', N'一车间',   0),
  ('02', N'二车间',   0),
  ('03', N'装配车间', 0),
  ('11', N'机修车间', 1),
  ('12', N'供电车间', 1);

INSERT INTO CB_BmExpense (FID, FName) VALUES
  ('501', N'工资及福利费'),
  ('502', N'折旧费'),
  ('503', N'水电费'),
  ('504', N'机物料消耗');

-- Category 301 keys a department alone (the expense columns name the cost item); 201 pairs an
-- auxiliary department with a basic one; 302 and 202 pair a department with an expense, 302 also
-- with the pseudo expense AssistExpenseID.
INSERT INTO CB_CostVchTempSet
  (FVchClass, FTypeID, FTypeName, FExpDeptID, FExpDeptName, FExpenseID, FExpenseName,
   FAcctID, FAcctName, FItemClassID, FItemClassName, FItemID, FItemName, FRemark, FGroupID, FGroupName) VALUES
  ('01', '301', N'成本项目', '01', N'一车间', '101', N'直接材料',
   4101, N'生产成本-基本生产成本', 2, N'部门', 1, N'一车间', N'一车间耗用材料', 1, N'基本生产'),
  ('01', '301', N'成本项目', '02', N'二车间', '102', N'直接人工',
   4101, N'生产成本-基本生产成本', 2, N'部门', 2, N'二车间', N'二车间人工', 1, N'基本生产'),
  ('01', '201', N'辅助生产费用', '11', N'机修车间', '01', N'一车间',
   4101, N'生产成本-辅助生产成本', 2, N'部门', 1, N'一车间', N'机修费用分配', 2, N'辅助生产'),
  ('01', '302', N'制造费用', '01', N'一车间', '502', N'折旧费',
   4105, N'制造费用', NULL, NULL, NULL, NULL, N'车间折旧', 0, ''),
  ('01', '302', N'制造费用', '01', N'一车间', 'AssistExpenseID', N'辅助费用',
   4105, N'制造费用', NULL, NULL, NULL, NULL, N'辅助费用转入', 0, ''),
  ('01', '202', N'辅助生产费用', '12', N'供电车间', '503', N'水电费',
   4101, N'生产成本-辅助生产成本', 2, N'部门', 12, N'供电车间', N'供电水电费', 2, N'辅助生产'),
  ('02', '301', N'成本项目', '03', N'装配车间', '101', N'直接材料',
   4101, N'生产成本-基本生产成本', 2, N'部门', 3, N'装配车间', N'装配材料', 0, ''),
  ('02', '302', N'制造费用', '02', N'二车间', '501', N'工资及福利费',
   4105, N'制造费用', NULL, NULL, NULL, NULL, N'二车间管理人员工资', 0, ''),
  ('02', '202', N'辅助生产费用', '11', N'机修车间', '504', N'机物料消耗',
   4101, N'生产成本-辅助生产成本', 2, N'部门', 11, N'机修车间', N'机修物料', 2, N'辅助生产');
