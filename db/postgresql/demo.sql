-- The sample rows of db/shared/demo.sql for PostgreSQL (`morvane init --connect ... --demo`).

-- include shared/demo.sql
