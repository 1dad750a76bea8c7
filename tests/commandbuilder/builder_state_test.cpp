// The builder's own state: its data environment, the description array, Fields and the command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"
#include "commandbuilder/table_t.h"
#include "components/objlib/record_access.h"
#include "platform/db/connection.h"

namespace morvane::commandbuilder {
namespace {

using testing::BuilderDatabase;
using testing::BuilderOnT;
using testing::ErrorOf;

TEST(BuilderStateTest, WithoutDataEnvironmentEveryUseRaisesAClearError) {
  CommandBuilder b;
  const automation::Error describe = ErrorOf([&] { b.DescribField("FID", 202, 10); });
  EXPECT_EQ(describe.Number(), 91);
  EXPECT_NE(describe.Description().find("InitClassDataEnv"), std::string::npos) << describe.Description();
  EXPECT_EQ(ErrorOf([&] { b.Create("T"); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { b.BmIDUsed("CB_BmStandard", "FCode", "1"); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { b.IsFieldsDirty(); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { b.ExecInsert(); }).Number(), 91);
}

TEST(BuilderStateTest, ARejectedPropertyStringLeavesNoDataEnvironment) {
  CommandBuilder b;
  const automation::Error e = ErrorOf([&] { b.InitClassDataEnv("UserID=1;UserID=2"); });
  EXPECT_EQ(e.Number(), 457);
  EXPECT_EQ(ErrorOf([&] { b.DataSource(); }).Number(), 91);
  EXPECT_EQ(b.DescriptionCount(), 0);
}

TEST(BuilderStateTest, DescriptionArrayGrowsInSteps) {
  BuilderDatabase db;
  CommandBuilder b;
  b.InitClassDataEnv(db.Dsn());
  EXPECT_EQ(b.DescriptionCapacity(), 0);
  // count -> capacity after describing that many fields
  const std::vector<std::pair<int, int>> expected = {{1, 4},   {4, 4},   {5, 8},   {8, 8},   {9, 12},
                                                     {31, 32}, {32, 32}, {33, 36}, {40, 40}, {41, 45}};
  int count = 0;
  for (const auto& [n, capacity] : expected) {
    while (count < n) {
      // Named first: GCC 12 warns (-Wrestrict) at -O3 on "F" + std::to_string(...).
      const std::string number = std::to_string(++count);
      b.DescribField("F" + number, 3);
    }
    EXPECT_EQ(b.DescriptionCapacity(), capacity) << "after " << n << " fields";
  }
  EXPECT_EQ(b.DescriptionCount(), 41);
  EXPECT_EQ(b.Description(41).Name, "F41");
  EXPECT_EQ(ErrorOf([&] { b.Description(42); }).Number(), 9);
}

TEST(BuilderStateTest, DescriptionTakesTypeAndSizeFromTheCatalogue) {
  BuilderDatabase db;
  auto b = BuilderOnT(db);
  const FieldDesc& id = b->Description(1);
  EXPECT_EQ(id.ActualType, 202);
  EXPECT_EQ(id.BindType, 202);
  EXPECT_EQ(id.ActualSize, 10);  // the size, as the catalogue gives none of its own
  const FieldDesc& no = b->Description(2);
  EXPECT_EQ(no.ActualSize, 4);
  EXPECT_TRUE(no.Pkey);
  EXPECT_TRUE(no.Default.IsEmpty());
}

TEST(BuilderStateTest, DescribeWithValueWritesIntoFields) {
  BuilderDatabase db;
  CommandBuilder b;
  b.InitClassDataEnv(db.Dsn());
  b.Create("T", BuilderDatabase::Record({}));
  b.DescribField("FQty", 3, 0, false, Variant(4));
  EXPECT_EQ(objlib::RecordRef(b.Fields()).Value("FQty"), Variant(4));

  CommandBuilder noFields;
  noFields.InitClassDataEnv(db.Dsn());
  EXPECT_EQ(ErrorOf([&] { noFields.DescribField("FQty", 3, 0, false, Variant(4)); }).Number(), 91);
  EXPECT_EQ(noFields.DescriptionCount(), 0);
}

TEST(BuilderStateTest, CreateClonesTheRecordAndKeepsFieldsWithoutOne) {
  BuilderDatabase db;
  CommandBuilder b;
  b.InitClassDataEnv(db.Dsn());
  DispatchPtr callers = BuilderDatabase::Record({{"FID", "a"}});
  b.Create("T", callers);
  objlib::RecordRef(callers).SetValue("FID", "changed");
  EXPECT_EQ(objlib::RecordRef(b.Fields()).Value("FID"), Variant("a"));

  const DispatchPtr before = b.Fields();
  b.Create("T");
  EXPECT_EQ(b.Fields(), before);
}

TEST(BuilderStateTest, DirtyOnlyWithADescribedField) {
  BuilderDatabase db;
  auto b = BuilderOnT(db);
  b->SetFields(BuilderDatabase::Record({{"Stray", 1}, {"Other", 2}}));
  EXPECT_FALSE(b->IsFieldsDirty());
  b->SetFields(BuilderDatabase::Record({{"Stray", 1}, {"fqty", 2}}));  // names compare without case
  EXPECT_TRUE(b->IsFieldsDirty());
}

TEST(BuilderStateTest, NameDescribedTwiceIsListedTwice) {
  BuilderDatabase db;
  auto b = BuilderOnT(db);
  b->DescribField("FQty", 3);
  DispatchPtr filter = BuilderDatabase::Record({{"FQty", 1}});
  db.Recorder().ClearLog();
  b->ExecDelete(filter);
  ASSERT_EQ(db.Recorder().StatementsStartingWith("DELETE").size(), 1u);
  const auto del = db.Recorder().StatementsStartingWith("DELETE")[0];
  EXPECT_EQ(del.sql, "DELETE FROM T WHERE  FQty=? AND FQty=? ");
  EXPECT_EQ(del.params.size(), 2u);
}

TEST(BuilderStateTest, CommandTimeoutAndConnectionChoices) {
  BuilderDatabase db;
  CommandBuilder b;
  b.InitClassDataEnv(db.Dsn());
  EXPECT_EQ(ErrorOf([&] { b.CommandTimeout(); }).Number(), 91);

  // A connection string: every statement opens a connection of its own.
  b.Create("T", nullptr, db.ConnectString());
  EXPECT_EQ(b.CommandTimeout(), 0);
  b.SetCommandTimeout(30);
  EXPECT_EQ(b.CommandTimeout(), 30);
  testing::DescribeT(b);
  b.SetFields(BuilderDatabase::Record({{"FID", "a"}, {"FNo", 1}}));
  EXPECT_TRUE(b.ExecInsert());
  EXPECT_EQ(b.CommandTimeout(), 30);

  // A connection object of the caller's.
  auto connection = db::Connection::New();
  connection->Open(db.ConnectString());
  CommandBuilder shared;
  shared.InitClassDataEnv(db.Dsn());
  shared.Create("T", nullptr, connection);
  testing::DescribeT(shared);
  shared.SetFields(BuilderDatabase::Record({{"FID", "b"}, {"FNo", 1}}));
  EXPECT_TRUE(shared.ExecInsert());
  EXPECT_EQ(db.Rows("SELECT FID FROM T ORDER BY FID"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace morvane::commandbuilder
