// The data type catalogue: the precision and scale rules and the name forms, loading once per
// process and product version, and the catalogue under concurrent first use.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"
#include "datasource/c_data_source.h"

namespace morvane::datasource {
namespace {

using automation::Variant;
using testing::BuilderDatabase;
using testing::ErrorOf;

constexpr const char* kLoad = "select * from t_DataTypeInfo";

Variant N() { return Variant::Null(); }

// Catalogue rows: FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType,
// FBindType, FActualSize.
db::ResultSet Catalogue() {
  db::ResultSet rs;
  for (const char* name : {"FDataType", "FTypeName", "FMaxPrecision", "FMinScale", "FMaxScale", "FActualType",
                           "FBindType", "FActualSize"}) {
    rs.columns.push_back({name, 0});
  }
  const auto row = [&](int type, Variant name, Variant maxP, Variant minS, Variant maxS, Variant actual, Variant bind,
                       Variant size) {
    rs.rows.push_back({Variant(type), name, maxP, minS, maxS, actual, bind, size});
  };
  row(1, "T", 20, N(), N(), 101, 201, N());
  row(2, "T", 20, N(), 4, 102, 202, N());
  row(3, "T()", 20, N(), 4, 103, 203, N());
  row(4, "T(n) x", 20, N(), N(), 104, 204, N());
  row(5, "T(n", 20, N(), N(), 105, 205, N());
  row(6, "N", 10, 0, 4, 106, 206, N());
  row(7, "M", 38, 2, N(), 107, 207, N());
  row(8, "X", 38, 5, 3, 108, 208, N());
  row(9, "int", N(), N(), N(), 3, 3, 4);
  row(10, "text", N(), N(), N(), 201, 211, N());
  row(11, "F", 20, N(), N(), 111, 221, 16);
  row(12, "Old", 20, N(), N(), 112, 212, N());
  row(12, "New", 20, N(), N(), 113, 213, N());  // a later row of the same type replaces the earlier
  row(13, N(), 20, N(), N(), 114, 214, N());
  row(14, "B", 20, N(), N(), N(), N(), N());
  return rs;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { db.Recorder().Answer(kLoad, Catalogue()); }
  std::size_t Loads() const { return db.Recorder().StatementsStartingWith(kLoad).size(); }

  BuilderDatabase db;
};

TEST_F(CatalogueTest, TypeNamesAndOutputs) {
  struct Case {
    int type, precision, scale;
    std::string name;
    int precisionOut, scaleOut, actualType, actualSize, bindType;
  };
  const int u = -7;  // what the outputs hold before the call
  const Case cases[] = {
      {1, 10, 2, "T(10)", 10, 2, 101, 10, 201},
      {2, 10, 2, "T(10,2)", 10, 2, 102, 10, 202},
      {3, 10, 2, "T(10,2)", 10, 2, 103, 10, 203},
      {4, 10, 2, "T(10) x", 10, 2, 104, 10, 204},
      {5, 10, 2, "T(10)n", 10, 2, 105, 10, 205},
      {6, 10, 2, "N(10,2)", 10, 2, 106, 10, 206},  // precision at the limit
      {6, 11, 2, "", 11, 2, u, u, u},               // one more: refused, nothing changed
      {6, 10, 6, "N(10,4)", 10, 4, 106, 10, 206},
      {6, 10, -1, "N(10,0)", 10, 0, 106, 10, 206},
      {7, 10, 9, "M(10)", 10, 9, 107, 10, 207},  // no upper bound, no scale part
      {7, 10, 1, "M(10)", 10, 2, 107, 10, 207},
      {8, 10, 4, "X(10,5)", 10, 5, 108, 10, 208},  // crossing bounds: the minimum wins
      {9, 10, 2, "int", 0, 0, 3, 4, 3},
      {10, 10, 2, "text", 0, 0, 201, 0, 211},
      {11, 10, 2, "F(10)", 10, 2, 111, 16, 221},
      {12, 10, 2, "New(10)", 10, 2, 113, 10, 213},
  };
  auto ds = db.DataSource();
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " precision " + std::to_string(c.precision) + " scale " +
                 std::to_string(c.scale));
    std::int32_t precision = c.precision, scale = c.scale, actualType = u, actualSize = u, bindType = u;
    EXPECT_EQ(ds->GetTypeName(c.type, precision, scale, actualType, actualSize, bindType), c.name);
    EXPECT_EQ(precision, c.precisionOut);
    EXPECT_EQ(scale, c.scaleOut);
    EXPECT_EQ(actualType, c.actualType);
    EXPECT_EQ(actualSize, c.actualSize);
    EXPECT_EQ(bindType, c.bindType);
  }
}

TEST_F(CatalogueTest, ActualTypes) {
  struct Case {
    int type, precision, scale;
    int result, scaleOut, actualSize, bindType;
  };
  const int u = -7;
  const Case cases[] = {
      {6, 10, 6, 106, 4, 10, 206},
      {6, 11, 6, 0, 6, u, u},
      {9, 10, 2, 3, 2, 4, 3},         // FMaxPrecision Null: the precision stays as it was
      {10, 10, 2, 201, 2, 10, 211},  // FActualSize Null: the precision
      {11, 5, 0, 111, 0, 16, 221},
  };
  auto ds = db.DataSource();
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " precision " + std::to_string(c.precision));
    const std::int32_t precision = c.precision;
    std::int32_t scale = c.scale, actualSize = u, bindType = u;
    EXPECT_EQ(ds->GetActualType(c.type, precision, scale, actualSize, bindType), c.result);
    EXPECT_EQ(scale, c.scaleOut);
    EXPECT_EQ(actualSize, c.actualSize);
    EXPECT_EQ(bindType, c.bindType);
  }
  EXPECT_EQ(ds->GetBindType(11), 221);
}

TEST_F(CatalogueTest, NullColumnsAndMissingTypes) {
  auto ds = db.DataSource();
  std::int32_t precision = 10, scale = 0, actualType = 0, actualSize = 0, bindType = 0;
  EXPECT_EQ(ErrorOf([&] { ds->GetTypeName(13, precision, scale, actualType, actualSize, bindType); }).Number(), 94);
  EXPECT_EQ(ds->GetActualType(13, precision, scale, actualSize, bindType), 114);
  EXPECT_EQ(ErrorOf([&] { ds->GetActualType(14, precision, scale, actualSize, bindType); }).Number(), 94);
  EXPECT_EQ(ErrorOf([&] { ds->GetBindType(14); }).Number(), 94);
  EXPECT_NE(ErrorOf([&] { ds->GetBindType(99); }).Number(), 0);  // a type without a row
}

TEST_F(CatalogueTest, LoadedOncePerProcessAndVersionForEveryBuilder) {
  auto first = db.DataSource();
  auto second = db.DataSource("en");
  EXPECT_EQ(first->GetBindType(1), 201);
  EXPECT_EQ(second->GetBindType(2), 202);
  for (int i = 0; i < 3; ++i) {
    commandbuilder::CommandBuilder b;
    b.InitClassDataEnv(db.Dsn());
    b.DescribField("F", 11, 5);
  }
  EXPECT_EQ(Loads(), 1u);

  // Another product version has a catalogue of its own.
  BuilderDatabase other;
  other.Recorder().Answer(kLoad, Catalogue());
  EXPECT_EQ(other.DataSource()->GetBindType(1), 201);
  EXPECT_EQ(other.Recorder().StatementsStartingWith(kLoad).size(), 1u);
}

TEST(CatalogueLoadTest, ConcurrentFirstUseWaitsForTheLoad) {
  // A slow load gives the other threads every chance to come while it runs.
  BuilderDatabase slow;
  slow.Recorder().AddRule([](const testing::RecordedStatement& s) -> std::optional<db::ResultSet> {
    if (s.sql != kLoad) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return Catalogue();
  });
  std::vector<std::shared_ptr<CDataSource>> sources;
  for (int i = 0; i < 8; ++i) sources.push_back(slow.DataSource());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      try {
        const std::int32_t precision = 10;
        std::int32_t scale = 0, size = 0, bind = 0;
        if (sources[i]->GetActualType(11, precision, scale, size, bind) != 111) ++failures;
      } catch (...) {
        ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(slow.Recorder().StatementsStartingWith(kLoad).size(), 1u);
}

TEST(CatalogueLoadTest, FailedLoadIsTriedAgain) {
  BuilderDatabase db;
  auto calls = std::make_shared<int>(0);
  db.Recorder().AddRule([calls](const testing::RecordedStatement& s) -> std::optional<db::ResultSet> {
    if (s.sql != kLoad) return std::nullopt;
    if ((*calls)++ == 0) throw automation::Error(3709, "test", "the connection broke");
    return Catalogue();
  });
  auto ds = db.DataSource();
  EXPECT_EQ(ErrorOf([&] { ds->GetBindType(1); }).Number(), 3709);
  EXPECT_EQ(ds->GetBindType(1), 201);
  EXPECT_EQ(*calls, 2);
}

TEST(CatalogueLoadTest, NullTypeCodeFailsTheLoad) {
  BuilderDatabase db;
  db::ResultSet rs = Catalogue();
  rs.rows.push_back({N(), "Z", N(), N(), N(), 1, 1, 1});
  db.Recorder().Answer(kLoad, rs);
  auto ds = db.DataSource();
  EXPECT_EQ(ErrorOf([&] { ds->GetBindType(1); }).Number(), 94);
}

TEST(CatalogueLoadTest, ReadsTheDatabaseTable) {
  BuilderDatabase db;  // its t_DataTypeInfo: 202 is nvarchar() up to 4000
  auto ds = db.DataSource();
  std::int32_t precision = 50, scale = 0, actualType = 0, actualSize = 0, bindType = 0;
  EXPECT_EQ(ds->GetTypeName(202, precision, scale, actualType, actualSize, bindType), "nvarchar(50)");
  EXPECT_EQ(actualSize, 50);
}

TEST(IsOracleTest, ExactName) {
  const std::pair<const char*, bool> cases[] = {
      {"Oracle", true}, {"oracle", false}, {"ORACLE", false}, {"Oracle8", false}, {"SQLite", false}};
  for (const auto& [name, expected] : cases) {
    auto parse = std::make_shared<CParse>();
    parse->ParseString(std::string("DBMS Name=") + name);
    CDataSource ds;
    ds.ParseObject = parse;
    EXPECT_EQ(ds.IsOracle(), expected) << name;
  }
}

}  // namespace
}  // namespace morvane::datasource
