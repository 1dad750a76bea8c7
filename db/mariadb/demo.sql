-- The sample rows of db/shared/demo.sql for MariaDB (`morvane init --connect ... --demo`).

-- include shared/demo.sql
