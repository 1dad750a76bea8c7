// The network host end to end: the real server on a loopback port, called with a real HTTP
// client. The eight methods, the errors they raise, the classes listing and the access log.
#include <gtest/gtest.h>

#include <regex>

#include "host/server_fixture.h"
#include "platform/automation/late_binding.h"

namespace morvane::testing {
namespace {

class ServerCallsTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    Exec("INSERT INTO CB_BmExpDept (FID,FName,FType) VALUES ('D01','Machining',0),('D02','Assembly',0),"
         "('A01','Power',1),('A02','Repair',1)");
    Exec("INSERT INTO CB_BmExpense (FID,FName) VALUES ('E01','Wages'),('E02','Depreciation')");
    Exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID,FAcctID,FRemark,FGroupID,FGroupName) "
         "VALUES ('V1','301','D01','X1',1001,'base',7,'G7'),('V1','302','D02','AssistExpenseID',3002,'assist',3,NULL),"
         "('V1','201','A01','D02',2001,'ass',1,NULL),('V1','202','A02','E01',4001,'alend',NULL,NULL)");
    Start();
  }
};

TEST_F(ServerCallsTest, ListQueriesAnswerWhatTheInProcessCallReturns) {
  auto info = Create("Morvane.VchTempSetInfo");
  HostClient client = Client();
  for (const char* method : {"GetBaseList", "GetAssList", "GetBLendList", "GetALendList"}) {
    const Json expected = call::ToJson(automation::Call(*info, method, Dsn("en")));
    ASSERT_TRUE(expected.is_array() && !expected.empty()) << method;
    const Reply positional = client.Post(InfoPath(method), Json::array({Dsn("en")}));
    ASSERT_EQ(positional.status, 200) << method << ": " << positional;
    EXPECT_EQ(positional.body["result"], expected) << method;
    const Reply named = client.Post(InfoPath(method), Json{{"SDSN", Dsn("en")}});
    EXPECT_EQ(named.status, 200) << method << " with a named argument: " << named;
    EXPECT_EQ(named.body["result"], expected) << method;
  }
}

TEST_F(ServerCallsTest, ChangesWriteThroughTheHost) {
  HostClient client = Client();
  Json first = SettingJson("V2", "301", "D01", "E01", "first");
  first["FAcctID"] = 1001;
  const Reply append =
      client.Post(UpdatePath("Append"), Json{{"sDsn", Dsn()},
                                             {"Properties", Json::array({first, SettingJson("V2", "301", "D02", "E01")})},
                                             {"bMts", true}});
  ASSERT_EQ(append.status, 200) << append;
  EXPECT_EQ(append.body, (Json{{"result", 0}}));
  EXPECT_EQ(Rows("SELECT FRemark, FAcctID FROM CB_CostVchTempSet WHERE FVchClass='V2' AND FExpDeptID='D01'"),
            std::vector<std::string>{"first|1001"});

  const Reply update = client.Post(UpdatePath("Update"),
                                   Json::array({Dsn(), KeyJson("V2", "301", "D01", "E01"),
                                                Json::array({Json{{"FRemark", "changed"}}}), true}));
  ASSERT_EQ(update.status, 200) << update;
  EXPECT_EQ(update.body, (Json{{"result", nullptr}})) << "Update has no result";
  EXPECT_EQ(Rows("SELECT FRemark, FAcctID FROM CB_CostVchTempSet WHERE FVchClass='V2' AND FExpDeptID='D01'"),
            std::vector<std::string>{"changed|1001"});

  const Reply remove = client.Post(UpdatePath("Delete"), Json::array({Dsn(), Json{{"FExpDeptID", "D02"}}}));
  ASSERT_EQ(remove.status, 200) << remove;
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_CostVchTempSet WHERE FExpDeptID='D02'"), std::vector<std::string>{"0"});

  const Reply replace = client.Post(
      UpdatePath("UpdateInsert"),
      Json::array({Dsn(), Json::array({SettingJson("V2", "202", "A01", "E02", "only"),
                                       SettingJson("V2", "202", "A02", "E02", "second")}),
                   false}));
  ASSERT_EQ(replace.status, 200) << replace;
  EXPECT_EQ(replace.body, (Json{{"result", 0}}));
  EXPECT_EQ(Rows("SELECT FTypeID || '/' || FExpDeptID || '/' || FRemark FROM CB_CostVchTempSet "
                 "WHERE FVchClass='V2' ORDER BY FExpDeptID"),
            (std::vector<std::string>{"202/A01/only", "202/A02/second"}));
}

TEST_F(ServerCallsTest, AnErrorOfTheCallAnswers422WithItsFields) {
  HostClient client = Client();
  const Json rows = Json::array({SettingJson("V1", "301", "D01", "X1")});  // the key exists
  const Reply reply = client.Post(UpdatePath("Append"), Json::array({Dsn("en"), rows, true}));
  ASSERT_EQ(reply.status, 422) << reply;
  ASSERT_TRUE(IsErrorBody(reply.body)) << reply;
  const Json& error = reply.body["error"];
  EXPECT_EQ(error["number"], 10007);
  EXPECT_EQ(error["hresult"], "0x800A2717");
  EXPECT_EQ(error["source"], Rows("SELECT FDescriptive_EN FROM CB_BmErrCode WHERE FCode = 10007").at(0));
  EXPECT_EQ(error["source"], "The record already exists");
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_CostVchTempSet"), std::vector<std::string>{"4"});
}

TEST_F(ServerCallsTest, UsageErrorsAnswer400Or404WithTheBindingNumber) {
  HostClient client = Client();
  const struct {
    const char* what;
    std::string path;
    std::string body;
    int status;
    std::int64_t number;
  } cases[] = {
      {"unknown class", CallPath("Morvane.NoSuchClass", "GetBaseList"), "[]", 404, 429},
      {"class of the platform, not served", CallPath("MTxSpm.SharedPropertyGroupManager.1", "CreatePropertyGroup"),
       "[]", 404, 429},
      {"unknown member", InfoPath("GetNothing"), "[]", 404, 438},
      {"too many arguments", InfoPath("GetBaseList"), R"(["a", "b"])", 400, 450},
      {"no arguments for a required parameter", InfoPath("GetBaseList"), "", 400, 449},
      {"record where a text is declared", InfoPath("GetBaseList"), R"([{"a": 1}])", 400, 13},
      {"text where a list is declared", UpdatePath("Append"), R"(["dsn", "rows", true])", 400, 13},
      {"text where a Boolean is declared", UpdatePath("Append"), R"(["dsn", [], "maybe"])", 400, 13},
      {"unknown parameter name", InfoPath("GetBaseList"), R"({"sDsn": "x", "nLevel": 1})", 400, 0},
  };
  for (const auto& c : cases) {
    const Reply reply = client.Post(c.path, c.body);
    EXPECT_EQ(reply.status, c.status) << c.what << ": " << reply;
    EXPECT_TRUE(IsErrorBody(reply.body)) << c.what << ": " << reply;
    if (c.number != 0) {
      EXPECT_EQ(reply.ErrorNumber(), c.number) << c.what << ": " << reply;
    }
  }
}

TEST_F(ServerCallsTest, ClassesListTheServedClassesFromTheirTypeInformation) {
  const Reply reply = Client().Get("/v1/classes");
  ASSERT_EQ(reply.status, 200) << reply;
  std::map<std::string, Json> byProgId;
  for (const auto& c : reply.body["classes"]) byProgId[c["progId"]] = c;
  ASSERT_EQ(byProgId.size(), 2u) << "only the component's own classes are served: " << reply;

  const Json& update = byProgId.at("Morvane.VchTempSetUpdate");
  EXPECT_EQ(update["transaction"], "Required");
  EXPECT_EQ(byProgId.at("Morvane.VchTempSetInfo")["transaction"], "Supported");
  const Json* append = nullptr;
  for (const auto& m : update["members"])
    if (m["name"] == "Append") append = &m;
  ASSERT_NE(append, nullptr);
  EXPECT_EQ((*append)["dispId"], 0x60030003);
  EXPECT_EQ((*append)["result"], "I4");
  const Json expectedParams = Json::parse(R"([
      {"name": "sDsn", "type": "BSTR", "byRef": false, "optional": false, "default": null},
      {"name": "Properties", "type": "DISPATCH", "byRef": false, "optional": false, "default": null},
      {"name": "bMts", "type": "BOOL", "byRef": false, "optional": true, "default": true}])");
  EXPECT_EQ((*append)["params"], expectedParams);
  EXPECT_EQ(byProgId.at("Morvane.VchTempSetInfo")["members"].size(), 4u);
}

TEST_F(ServerCallsTest, HealthAndUnknownEndpoints) {
  HostClient client = Client();
  const Reply health = client.Get("/v1/health");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, (Json{{"status", "ok"}}));

  const Reply unknownGet = client.Get("/v2/anything");
  EXPECT_EQ(unknownGet.status, 404) << unknownGet;
  EXPECT_TRUE(IsErrorBody(unknownGet.body)) << unknownGet;
  const Reply unknownPost = client.Post("/v1/only-one-segment", "[]");
  EXPECT_EQ(unknownPost.status, 404) << unknownPost;
  EXPECT_TRUE(IsErrorBody(unknownPost.body)) << unknownPost;
  const Reply put = HostClient::Make(client.raw().Put("/v1/Morvane.VchTempSetInfo/GetBaseList", "[]", "application/json"));
  EXPECT_EQ(put.status, 405) << put;
  EXPECT_TRUE(IsErrorBody(put.body)) << put;
}

TEST_F(ServerCallsTest, AccessLogHasOneLinePerRequestWithoutBodies) {
  HostClient client = Client();
  ASSERT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  ASSERT_EQ(client.Post(UpdatePath("Append"), Json::array({Dsn("en"), Json::array({SettingJson("V1", "301", "D01", "X1")})}))
                .status,
            422);
  // A line is written once its answer has gone out: wait for both.
  std::vector<std::string> lines;
  for (int i = 0; i < 200 && (lines = server_->LogLines()).size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::regex ok(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1:\d+ POST )"
                      R"(/v1/Morvane\.VchTempSetInfo/GetBaseList 200 \d+\.\dms$)");
  const std::regex failed(R"( POST /v1/Morvane\.VchTempSetUpdate/Append 422 \d+\.\dms error=10007$)");
  int okLines = 0, failedLines = 0;
  for (const auto& line : lines) {
    okLines += std::regex_search(line, ok);
    failedLines += std::regex_search(line, failed);
    EXPECT_EQ(line.find("ConnectString"), std::string::npos) << "a body reached the log: " << line;
  }
  EXPECT_EQ(okLines, 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(failedLines, 1) << ::testing::PrintToString(lines);
}

// A transaction id in the path is URL-decoded before it reaches the log: a line feed in it must
// not write a second, forged line.
TEST_F(ServerCallsTest, AccessLogLinesCannotBeForgedThroughTheTransactionId) {
  HostClient client = Client();
  EXPECT_EQ(client.Post("/v1/transactions/%0aFORGED%20/commit", "").status, 404);
  std::vector<std::string> lines;
  for (int i = 0; i < 200 && (lines = server_->LogLines()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int escaped = 0;
  for (const auto& line : lines) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    escaped += line.find(" 404 ") != std::string::npos && line.find(" tx=\\x0AFORGED") != std::string::npos;
  }
  EXPECT_EQ(escaped, 1) << ::testing::PrintToString(lines);
}

}  // namespace
}  // namespace morvane::testing
