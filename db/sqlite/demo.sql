-- A small sample for trying the component (`morvane init --demo`): three basic production
-- departments, two auxiliary production departments, four expenses and settings of every
-- category in two voucher classes ("01" and "02").

-- include shared/demo.sql
