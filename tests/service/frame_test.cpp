// The call frame the public classes share: votes, the data environment of each call, the error
// information a client sees, and what happens without the runtime.
#include <gtest/gtest.h>

#include "service/vch_temp_set_info.h"
#include "service/vch_temp_set_update.h"
#include "testing/service_fixture.h"

namespace morvane::testing {

namespace errors = automation::errors;
namespace {

class FrameTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    info_ = Create("Morvane.VchTempSetInfo");
    update_ = Create("Morvane.VchTempSetUpdate");
  }
  DispatchPtr info_;
  DispatchPtr update_;
};

TEST_F(FrameTest, AListQueryHasVotedCompleteBeforeItFails) {
  mts::TransactionScope tx;
  automation::Call(*update_, "Append", Dsn(), List({Setting("V1", "301", "D01", "E01")}), true);
  // The description parses, so the environment is built; opening its connection then fails.
  const std::string missingDatabase =
      "ConnectString={Provider=SQLite;Data Source=" + (dir_ / "missing.db").string() + "};LANGUAGE=chs";
  EXPECT_NE(ErrorOf([&] { automation::Call(*info_, "GetALendList", missingDatabase); }).Number(), 0);
  EXPECT_FALSE(tx.IsDoomed());
  tx.Commit();
  EXPECT_EQ(Settings().size(), 1u);
}

TEST_F(FrameTest, AChangeWithoutVoteLeavesTheOutcomeToTheCaller) {
  {
    mts::TransactionScope tx;
    automation::Call(*update_, "Append", Dsn(), List({Setting("V1", "301", "D01", "E01")}), false);
    // A failing change with bMts False casts no vote: the caller's transaction is not doomed.
    EXPECT_EQ(ErrorOf([&] {
                automation::Call(*update_, "Append", Dsn(), List({Setting("V1", "301", "D01", "E01")}), false);
              }).Number(),
              10007);
    EXPECT_FALSE(tx.IsDoomed());
    tx.Commit();
  }
  EXPECT_EQ(Settings().size(), 1u);

  {
    mts::TransactionScope tx;
    automation::Call(*update_, "Append", Dsn(), List({Setting("V2", "301", "D01", "E01")}), false);
    tx.Abort();
  }
  EXPECT_EQ(Settings().size(), 1u) << "the caller's abort undoes the change";
}

TEST_F(FrameTest, AnUnparsableDescriptionWithVotingDoomsTheTransaction) {
  mts::TransactionScope tx;
  auto e = ErrorOf([&] {
    automation::Call(*update_, "Append", "A=1;a=2", List({Setting("V1", "301", "D01", "E01")}), true);
  });
  EXPECT_EQ(e.Number(), 457) << "the parser's error reaches the caller";
  EXPECT_TRUE(tx.IsDoomed()) << "SetAbort was cast before the description was parsed";
  EXPECT_EQ(ErrorOf([&] { tx.Commit(); }).Number(), errors::kTransactionAborted);
}

TEST_F(FrameTest, UpdateInsertOfAnEmptyListReturnsZeroBeforeAnything) {
  Variant r = automation::Call(*update_, "UpdateInsert", "not a description;;{", DispatchPtr(objlib::RecordList::New()));
  EXPECT_EQ(r, Variant(std::int32_t{0}));
  // Even a plain object without the runtime: nothing else is touched.
  service::VchTempSetUpdate plain;
  EXPECT_EQ(plain.UpdateInsert("", objlib::RecordList::New(), true), 0);
}

TEST_F(FrameTest, TwoCallsOnOneObjectEachWorkOnTheirOwnDescription) {
  TempDatabase other;
  automation::Call(*update_, "Append", Dsn(), List({Setting("V1", "301", "D01", "E01")}), true);
  automation::Call(*update_, "Append", other.Dsn(), List({Setting("V2", "301", "D01", "E01")}), true);
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r"}));
  EXPECT_EQ(other.Settings(), (std::vector<std::string>{"V2|301|D01|E01|r"}));
}

TEST_F(FrameTest, WithoutTheRuntimeEveryMethodRaisesAndWritesNothing) {
  service::VchTempSetInfo info;
  service::VchTempSetUpdate update;
  auto rows = List({Setting("V1", "301", "D01", "E01")});
  auto key = Setting("V1", "301", "D01", "E01");
  EXPECT_EQ(ErrorOf([&] { info.GetBaseList(Dsn()); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { update.Append(Dsn(), rows, true); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { update.Append(Dsn(), rows, false); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { update.Update(Dsn(), key, rows, false); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { update.Delete(Dsn(), key, false); }).Number(), 91);
  EXPECT_EQ(ErrorOf([&] { update.UpdateInsert(Dsn(), rows, false); }).Number(), 91);
  EXPECT_TRUE(Settings().empty());
}

TEST_F(FrameTest, ErrorInformationIsLocalisedAndReportsTheNumberRaised) {
  const std::string tooLong(251, 'x');
  auto row = Setting("V1", "301", tooLong.c_str(), "E01");
  for (const char* language : {"chs", "cht", "en"}) {
    auto e = ErrorOf([&] { automation::Call(*update_, "Append", Dsn(language), List({row}), true); });
    EXPECT_EQ(e.Number(), 10005) << language;
    EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(0x800A2715u)) << language;
    EXPECT_EQ(e.Description(), "10036") << language;
    const auto texts = Rows(std::string("SELECT ") +
                            (std::string(language) == "chs"   ? "FDescriptive"
                             : std::string(language) == "cht" ? "FDescriptive_CHT"
                                                              : "FDescriptive_EN") +
                            " FROM CB_BmErrCode WHERE FCode = 10005");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(e.Source(), texts[0]) << language;
    const auto caption = Rows("SELECT FDescriptive FROM CB_BmErrItem WHERE FItem = 10036");
    ASSERT_EQ(caption.size(), 1u);
    EXPECT_EQ(e.HelpFile(), caption[0] + " = '" + tooLong + "'") << language;
  }
  // A description without a LANGUAGE entry still reports the number that was raised.
  const std::string noLanguage = "ConnectString={" + ConnectString() + "};UserID=1;DBMS Name=SQLite;DBMS Version=test";
  EXPECT_EQ(ErrorOf([&] { automation::Call(*update_, "Append", noLanguage, List({row}), true); }).Number(), 10005);
}

}  // namespace
}  // namespace morvane::testing
