// Eight threads share one SQLite database file and mix the four changes and the four list
// queries through the runtime, with calls that are meant to fail among them. Each thread writes
// only rows of its own two voucher classes and keeps a model of what it has committed, so that
// every list it reads can be checked against its own rows and the table after the run against the
// union of the models. A recording provider sees every statement of the run, which shows how often
// the shared data type catalogue and database profile were read from the database.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <latch>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "commandbuilder/recording_provider.h"
#include "datasource/c_data_source.h"
#include "datasource/c_parse.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/provider_override.h"
#include "testing/service_fixture.h"

namespace morvane::testing {

namespace errors = automation::errors;
namespace {

using objlib::KeyedRecord;
using objlib::RecordList;

constexpr int kCallsPerThread = 500;
constexpr int kThreads = 8;

constexpr const char* kCatalogueLoad = "select * from t_DataTypeInfo";
constexpr const char* kProfileLoad = "SELECT FProcName FROM t_SupportedProc";

// The department and expense pairs each category offers on the database of this test, so that
// every stored row also shows in its category's list.
struct Category {
  const char* type;
  const char* list;  // the VchTempSetInfo method that lists it
  std::vector<const char*> departments;
  std::vector<const char*> expenses;
};
const std::vector<Category>& Categories() {
  static const std::vector<Category> categories = {
      {"301", "GetBaseList", {"D01", "D02"}, {"X0", "X1", "X2", "X3", "X4", "X5"}},  // expense stored freely
      {"302", "GetBLendList", {"D01", "D02"}, {"E01", "E02", "E03", "AssistExpenseID"}},
      {"201", "GetAssList", {"A01", "A02"}, {"D01", "D02"}},
      {"202", "GetALendList", {"A01", "A02"}, {"E01", "E02", "E03"}},
  };
  return categories;
}

// (FVchClass, FTypeID, FExpDeptID, FExpenseID)
using Key = std::tuple<std::string, std::string, std::string, std::string>;

struct Values {
  std::string remark;  // "<voucher class>|<serial>": the lists carry no voucher class, the remark does
  int acct = 0;
  int group = 0;
};

std::string Line(const Key& k, const Values& v) {
  return std::get<0>(k) + "|" + std::get<1>(k) + "|" + std::get<2>(k) + "|" + std::get<3>(k) + "|" + v.remark + "|" +
         std::to_string(v.acct) + "|" + std::to_string(v.group);
}

// What one thread expects, and what it saw that it did not expect.
struct Outcome {
  std::map<Key, Values> model;           // the rows of this thread's classes as committed
  std::vector<std::string> problems;     // unexpected results, with the call that gave them
  std::map<std::string, int> refusals;   // expected failures by kind
};

// One thread of the run: its own objects, its own classes, a fixed pseudo-random sequence of
// calls. After an unexpected result the thread stops, since its model may no longer be right.
class Worker {
 public:
  Worker(int index, std::string dsn, Outcome& out)
      : index_(index), dsn_(std::move(dsn)), out_(out), random_(20240611u + static_cast<unsigned>(index)) {
    classes_[0] = "W" + std::to_string(index) + "a";
    classes_[1] = "W" + std::to_string(index) + "b";
  }

  void Run(std::latch& start) {
    update_ = mts::CreateObject("Morvane.VchTempSetUpdate");
    info_ = mts::CreateObject("Morvane.VchTempSetInfo");
    start.arrive_and_wait();
    // Every thread starts with a change or a profile read, so the first loads of the catalogue
    // and of the profile are raced for.
    Step(index_ % 2 == 0 ? kAppend : kProfile);
    while (calls_ < kCallsPerThread && out_.problems.empty()) Step(Pick(0, kOpCount - 1));
  }

 private:
  enum Op { kAppend, kAppendAgain, kAppendDuplicate, kAppendRefused, kUpdate, kUpdateMissing, kDelete,
             kDeleteCategory, kReplace, kCallerTransaction, kList, kProfile, kOpCount };

  void Step(int op) {
    const std::string what = "thread " + std::to_string(index_) + " call " + std::to_string(calls_) + " ";
    try {
      switch (op) {
        case kAppend: case kAppendAgain: AppendNew(); break;  // twice as likely: the table fills up
        case kAppendDuplicate: AppendWithDuplicate(); break;
        case kAppendRefused: AppendRefusedValue(); break;
        case kUpdate: UpdateExisting(); break;
        case kUpdateMissing: UpdateMissing(); break;
        case kDelete: DeleteOne(); break;
        case kDeleteCategory: DeleteCategoryOfClass(); break;
        case kReplace: ReplaceClass(); break;
        case kCallerTransaction: CallerTransaction(); break;
        case kList: CheckList(); break;
        default: ReadProfile(); break;
      }
    } catch (const automation::Error& e) {
      Problem(what + "op " + std::to_string(op) + ": unexpected error " + std::to_string(e.Number()) + " " +
              e.Source() + ": " + e.Description() + " [" + e.HelpFile() + "]");
    } catch (const std::exception& e) {
      Problem(what + "op " + std::to_string(op) + ": unexpected exception " + e.what());
    }
  }

  // --- the calls -------------------------------------------------------------------------------

  void AppendNew() {
    std::vector<std::pair<Key, Values>> rows;
    const int n = Pick(1, 3);
    for (int i = 0; i < n; ++i)
      if (auto key = FreeKey(Class(), rows)) rows.emplace_back(*key, NewValues(std::get<0>(*key)));
    const bool vote = Pick(0, 1) == 1;  // without a caller's transaction both commit on success
    Call("Append", ListOf(rows), vote);
    for (const auto& [k, v] : rows) out_.model[k] = v;
  }

  // A new row followed by one whose key exists: the second insert is refused. With the vote the
  // call leaves nothing; without it the runtime commits what ran before the failure.
  void AppendWithDuplicate() {
    const auto existing = SomeRow();
    if (!existing) return AppendNew();
    auto fresh = FreeKey(std::get<0>(*existing), {});
    if (!fresh) return DeleteOne();
    const Values freshValues = NewValues(std::get<0>(*fresh));
    const bool vote = Pick(0, 1) == 1;
    Expect(10007, vote ? "duplicate key, voting" : "duplicate key, not voting", [&] {
      Call("Append", ListOf({{*fresh, freshValues}, {*existing, NewValues(std::get<0>(*existing))}}), vote);
    });
    if (!vote) out_.model[*fresh] = freshValues;
  }

  // A valid row followed by one the field checks refuse; the vote undoes the valid one.
  void AppendRefusedValue() {
    std::vector<std::pair<Key, Values>> rows;
    const std::string cls = Class();
    auto first = FreeKey(cls, rows);
    if (!first) return DeleteCategoryOfClass();
    rows.emplace_back(*first, NewValues(cls));
    auto second = FreeKey(cls, rows);
    if (!second) return DeleteCategoryOfClass();
    auto list = ListOf(rows);
    auto bad = Row(*second, NewValues(cls));
    const bool tooLong = Pick(0, 1) == 1;
    if (tooLong)
      bad->SetValue("FRemark", std::string(256, 'z'));
    else
      bad->SetValue("FGroupID", Variant::Null());
    list->Add(Variant(DispatchPtr(bad)));
    Expect(tooLong ? 10005 : 10000, tooLong ? "remark too long" : "required value Null",
           [&] { Call("Append", list, true); });
  }

  void UpdateExisting() {
    const auto key = SomeRow();
    if (!key) return AppendNew();
    Values v = out_.model[*key];
    v.remark = NewRemark(std::get<0>(*key));
    v.acct = Pick(1, 9999);
    // Only the remark and the account are given: the group keeps its stored value.
    auto values = TempDatabase::Record({{"FRemark", v.remark}, {"FAcctID", v.acct}});
    automation::Call(*update_, "Update", dsn_, DispatchPtr(KeyFilter(*key)), DispatchPtr(One(values)), true);
    ++calls_;
    out_.model[*key] = v;
  }

  void UpdateMissing() {
    auto key = FreeKey(Class(), {});
    if (!key) return DeleteOne();
    auto values = TempDatabase::Record({{"FRemark", NewRemark(std::get<0>(*key))}});
    Expect(10010, "update of a missing row", [&] {
      automation::Call(*update_, "Update", dsn_, DispatchPtr(KeyFilter(*key)), DispatchPtr(One(values)), true);
    });
  }

  void DeleteOne() {
    const auto key = SomeRow();
    if (!key) return AppendNew();
    automation::Call(*update_, "Delete", dsn_, DispatchPtr(KeyFilter(*key)), Pick(0, 1) == 1);
    ++calls_;
    out_.model.erase(*key);
  }

  // A filter without the whole key: every row of one of this thread's classes in one category.
  void DeleteCategoryOfClass() {
    const std::string cls = Class();
    const std::string type = Categories()[static_cast<std::size_t>(Pick(0, 3))].type;
    auto filter = TempDatabase::Record({{"FVchClass", cls}, {"FTypeID", type}});
    automation::Call(*update_, "Delete", dsn_, DispatchPtr(filter), true);
    ++calls_;
    std::erase_if(out_.model, [&](const auto& e) { return std::get<0>(e.first) == cls && std::get<1>(e.first) == type; });
  }

  // Replaces one of this thread's classes; every third time the new rows repeat a key, which is
  // refused and leaves the class as it was.
  void ReplaceClass() {
    const std::string cls = Class();
    std::vector<std::pair<Key, Values>> rows;
    // Stored keys of the class may be reused: the class is cleared first.
    const int n = Pick(1, 4);
    for (int i = 0; i < n; ++i) {
      Key k = RandomKey(cls);
      bool taken = false;
      for (const auto& r : rows) taken = taken || r.first == k;
      if (!taken) rows.emplace_back(k, NewValues(cls));
    }
    if (Pick(0, 2) == 0) {
      rows.emplace_back(rows.front().first, NewValues(cls));
      Expect(10007, "replacement repeating a key", [&] { Call("UpdateInsert", ListOf(rows), true); });
      return;
    }
    Call("UpdateInsert", ListOf(rows), true);
    std::erase_if(out_.model, [&](const auto& e) { return std::get<0>(e.first) == cls; });
    for (const auto& [k, v] : rows) out_.model[k] = v;
  }

  // Two changes in a transaction the thread holds: committed, aborted by the caller, or doomed
  // by a failing change that votes.
  void CallerTransaction() {
    const std::string cls = Class();
    auto fresh = FreeKey(cls, {});
    const auto existing = SomeRow();
    if (!fresh || !existing) return AppendNew();
    const Values freshValues = NewValues(cls);
    Values changed = out_.model[*existing];
    changed.remark = NewRemark(std::get<0>(*existing));
    const int outcome = Pick(0, 2);

    mts::TransactionScope tx;
    Call("Append", ListOf({{*fresh, freshValues}}), outcome == 2);
    auto values = TempDatabase::Record({{"FRemark", changed.remark}});
    automation::Call(*update_, "Update", dsn_, DispatchPtr(KeyFilter(*existing)), DispatchPtr(One(values)), false);
    ++calls_;
    switch (outcome) {
      case 0:
        tx.Commit();
        out_.model[*fresh] = freshValues;
        out_.model[*existing] = changed;
        break;
      case 1:
        tx.Abort();
        ++out_.refusals["caller's abort"];
        break;
      default:
        Expect(10007, "duplicate key in a caller's transaction",
               [&] { Call("Append", ListOf({{*fresh, NewValues(cls)}}), true); });
        if (!tx.IsDoomed()) Problem("thread " + std::to_string(index_) + ": a voting failure did not doom the transaction");
        Expect(errors::kTransactionAborted, "commit of a doomed transaction", [&] { tx.Commit(); });
        break;
    }
  }

  // One list query: the elements that carry this thread's remarks are exactly its rows of that
  // category, since the thread's own changes have all been committed before it asks.
  void CheckList() {
    const Category& category = Categories()[static_cast<std::size_t>(Pick(0, 3))];
    Variant result = automation::Call(*info_, category.list, dsn_);
    ++calls_;
    auto list = result.IsObject() ? std::dynamic_pointer_cast<RecordList>(result.object()) : nullptr;
    if (!list) return Problem(std::string(category.list) + " returned no RecordList");
    std::vector<std::string> seen;
    for (std::int32_t i = 1; i <= list->UBound(); ++i) {
      auto element = std::dynamic_pointer_cast<KeyedRecord>(list->Item(i).object());
      if (!element) return Problem(std::string(category.list) + " returned an element that is no KeyedRecord");
      const Variant remark = element->Value("FRemark");
      if (remark.IsNull()) continue;
      const std::string text = automation::ToText(remark);
      const std::string cls = text.substr(0, text.find('|'));
      if (cls != classes_[0] && cls != classes_[1]) continue;
      const Key k{cls, category.type, automation::ToText(element->Value("FExpDeptID")),
                   automation::ToText(element->Value("FExpenseID"))};
      seen.push_back(Line(k, {text, automation::ToLong(element->Value("FAcctID")),
                              automation::ToLong(element->Value("FGroupID"))}));
    }
    std::vector<std::string> expected;
    for (const auto& [k, v] : out_.model)
      if (std::get<1>(k) == category.type) expected.push_back(Line(k, v));
    std::sort(seen.begin(), seen.end());
    if (seen != expected) {
      std::string message = std::string(category.list) + " of thread " + std::to_string(index_) + " shows";
      for (const auto& s : seen) message += "\n  " + s;
      message += "\nexpected";
      for (const auto& s : expected) message += "\n  " + s;
      Problem(message);
    }
  }

  // No change or list reads the profile; the data source's profile readers do, from any thread.
  void ReadProfile() {
    auto parse = std::make_shared<datasource::CParse>();
    parse->ParseString(dsn_);
    datasource::CDataSource source;
    source.ParseObject = parse;
    ++calls_;
    if (!source.LikeEscapeClause() || source.DBMSVersion().empty() || source.ProcSupported("no such procedure"))
      Problem("thread " + std::to_string(index_) + ": the profile read back wrong values: LikeEscapeClause " +
              std::to_string(source.LikeEscapeClause()) + ", DBMSVersion '" + source.DBMSVersion() + "'");
  }

  // --- helpers ---------------------------------------------------------------------------------

  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  const std::string& Class() { return classes_[static_cast<std::size_t>(Pick(0, 1))]; }

  Key RandomKey(const std::string& cls) {
    const Category& c = Categories()[static_cast<std::size_t>(Pick(0, 3))];
    return {cls, c.type, c.departments[static_cast<std::size_t>(Pick(0, static_cast<int>(c.departments.size()) - 1))],
            c.expenses[static_cast<std::size_t>(Pick(0, static_cast<int>(c.expenses.size()) - 1))]};
  }
  // A key of the class that is neither stored nor among `pending`; nothing when none is found soon.
  std::optional<Key> FreeKey(const std::string& cls, const std::vector<std::pair<Key, Values>>& pending) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      Key k = RandomKey(cls);
      bool taken = out_.model.contains(k);
      for (const auto& p : pending) taken = taken || p.first == k;
      if (!taken) return k;
    }
    return std::nullopt;
  }
  std::optional<Key> SomeRow() {
    if (out_.model.empty()) return std::nullopt;
    auto it = out_.model.begin();
    std::advance(it, Pick(0, static_cast<int>(out_.model.size()) - 1));
    return it->first;
  }
  std::string NewRemark(const std::string& cls) { return cls + "|" + std::to_string(serial_++); }
  Values NewValues(const std::string& cls) {
    // Every other row leaves FGroupID out, so its default 0 is written.
    return {NewRemark(cls), Pick(1, 9999), Pick(0, 1) == 1 ? Pick(1, 50) : 0};
  }

  static std::shared_ptr<KeyedRecord> Row(const Key& k, const Values& v) {
    auto r = TempDatabase::Record({{"FVchClass", std::get<0>(k)}, {"FTypeID", std::get<1>(k)},
                                   {"FExpDeptID", std::get<2>(k)}, {"FExpenseID", std::get<3>(k)},
                                   {"FRemark", v.remark}, {"FAcctID", v.acct}});
    if (v.group != 0) r->SetValue("FGroupID", v.group);
    return r;
  }
  static std::shared_ptr<KeyedRecord> KeyFilter(const Key& k) {
    return TempDatabase::Record({{"FVchClass", std::get<0>(k)}, {"FTypeID", std::get<1>(k)},
                                 {"FExpDeptID", std::get<2>(k)}, {"FExpenseID", std::get<3>(k)}});
  }
  static std::shared_ptr<RecordList> ListOf(const std::vector<std::pair<Key, Values>>& rows) {
    auto list = RecordList::New();
    for (const auto& [k, v] : rows) list->Add(Variant(DispatchPtr(Row(k, v))));
    return list;
  }
  static std::shared_ptr<RecordList> One(const std::shared_ptr<KeyedRecord>& r) {
    auto list = RecordList::New();
    list->Add(Variant(DispatchPtr(r)));
    return list;
  }

  void Call(const char* method, const std::shared_ptr<RecordList>& rows, bool vote) {
    ++calls_;
    automation::Call(*update_, method, dsn_, DispatchPtr(rows), vote);
  }
  // Runs a call that must fail with `number`.
  template <class F>
  void Expect(std::int32_t number, const char* kind, F&& f) {
    const std::string what = "thread " + std::to_string(index_) + " call " + std::to_string(calls_) + " (" + kind + ")";
    try {
      f();
    } catch (const automation::Error& e) {
      if (e.Number() == number) {
        ++out_.refusals[kind];
        return;
      }
      return Problem(what + ": error " + std::to_string(e.Number()) + " " + e.Source() + ": " + e.Description() +
                     " instead of " + std::to_string(number));
    }
    Problem(what + ": succeeded instead of failing with " + std::to_string(number));
  }
  void Problem(std::string message) { out_.problems.push_back(std::move(message)); }

  int index_;
  std::string dsn_;
  Outcome& out_;
  std::mt19937 random_;
  std::string classes_[2];
  DispatchPtr update_;
  DispatchPtr info_;
  int calls_ = 0;
  int serial_ = 0;
};

class ConcurrencyTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D01','Machining',0),('D02','Assembly',0),"
         "('A01','Power',1),('A02','Repair',1)");
    Exec("INSERT INTO CB_BmExpense (FID,FName) VALUES ('E01','Wages'),('E02','Depreciation'),('E03','Energy')");
  }

  // A description naming a product version of its own, so that this run finds no catalogue or
  // profile that earlier tests of the process cached.
  std::string RunDsn() const {
    return "ConnectString={" + ConnectString() + "};UserName=tester;UserID=1;DBMS Name=SQLite;DBMS Version=run-" +
           dir_.filename().string() + ";LANGUAGE=chs;AcctType=GY";
  }
};

TEST_F(ConcurrencyTest, MixedCallsOnOneDatabaseLeaveExactlyWhatWasCommitted) {
  RecordingProvider recorder(db::sqlite::SqliteProvider::Instance());
  std::vector<Outcome> outcomes(kThreads);
  {
    ProviderOverride override(recorder);
    std::latch start(kThreads);
    const std::string dsn = RunDsn();
    std::vector<std::jthread> threads;  // joined first, before what they use ends
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] { Worker(t, dsn, outcomes[static_cast<std::size_t>(t)]).Run(start); });
  }

  std::vector<std::string> expected;
  std::map<std::string, int> refusals;
  for (const Outcome& o : outcomes) {
    for (const auto& p : o.problems) ADD_FAILURE() << p;
    for (const auto& [k, v] : o.model) expected.push_back(Line(k, v));
    for (const auto& [kind, n] : o.refusals) refusals[kind] += n;
  }
  std::sort(expected.begin(), expected.end());

  const auto stored = Rows("SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID,FRemark,FAcctID,FGroupID "
                           "FROM CB_CostVchTempSet ORDER BY 1,2,3,4");
  EXPECT_EQ(stored, expected) << "the table holds exactly the rows the committed calls wrote";
  EXPECT_TRUE(Rows("SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID FROM CB_CostVchTempSet "
                   "GROUP BY FVchClass,FTypeID,FExpDeptID,FExpenseID HAVING COUNT(*) > 1")
                  .empty());

  // The workload did run into each kind of failure it was built to provoke.
  for (const char* kind : {"duplicate key, voting", "duplicate key, not voting", "remark too long",
                           "required value Null", "update of a missing row", "replacement repeating a key",
                           "caller's abort", "commit of a doomed transaction"})
    EXPECT_GT(refusals[kind], 0) << kind;

  EXPECT_EQ(recorder.StatementsStartingWith(kCatalogueLoad).size(), 1u)
      << "the data type catalogue is read from the database once";
  // Readers that find the profile not yet loaded may load it side by side; once one of them has
  // finished, nobody loads it again, so at most one load per thread.
  const auto profileLoads = recorder.StatementsStartingWith(kProfileLoad).size();
  EXPECT_GE(profileLoads, 1u);
  EXPECT_LE(profileLoads, static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace morvane::testing
