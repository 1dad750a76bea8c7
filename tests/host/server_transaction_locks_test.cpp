// Held transactions and the database they use: one that only reads keeps no other caller from
// writing, however long it is held, and one transaction uses one connection per database,
// whichever spelling of the allowed connection string its calls name.
#include <gtest/gtest.h>

#include "host/server_fixture.h"

namespace morvane::testing {
namespace {

class ServerTransactionLocksTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    Start();
  }
  std::string Begin(HostClient& client) {
    const Reply reply = client.Post("/v1/transactions", std::string());
    EXPECT_EQ(reply.status, 200) << reply;
    return reply.body.value("id", "");
  }
  static httplib::Headers In(const std::string& id) { return {{"Transaction", id}}; }
  static Json AppendArgs(const std::string& dsn, const std::string& dept) {
    return Json::array({dsn, Json::array({SettingJson("V1", "301", dept, "E01")}), true});
  }
};

TEST_F(ServerTransactionLocksTest, AHeldTransactionThatOnlyReadsLocksNoWriterOut) {
  HostClient holder = Client();
  const std::string id = Begin(holder);
  const Reply read = holder.Post(InfoPath("GetBaseList"), Json::array({Dsn("en")}), In(id));
  ASSERT_EQ(read.status, 200) << read;

  HostClient other = Client();
  const Reply write = other.Post(UpdatePath("Append"), AppendArgs(Dsn("en"), "D01"));
  ASSERT_EQ(write.status, 200) << "another caller writes while the held transaction reads: " << write;
  EXPECT_EQ(Settings(), std::vector<std::string>{"V1|301|D01|E01|r"});

  // The held one read before that commit: its own write is refused at once, and writes nothing.
  const Reply stale = holder.Post(UpdatePath("Append"), AppendArgs(Dsn("en"), "D02"), In(id));
  ASSERT_EQ(stale.status, 422) << stale;
  EXPECT_NE(stale.Description().find("can no longer write"), std::string::npos) << stale;
  const Reply commit = holder.Post("/v1/transactions/" + id + "/commit", std::string());
  EXPECT_EQ(commit.status, 409) << "the refused call voted to abort: " << commit;
  EXPECT_EQ(Settings(), std::vector<std::string>{"V1|301|D01|E01|r"});
}

TEST_F(ServerTransactionLocksTest, SpellingsOfTheAllowedConnectionStringShareOneHeldTransaction) {
  std::string respelt = Dsn("en");
  respelt.replace(respelt.find(ConnectString()), ConnectString().size(),
                  " provider=SQLite; data source = " + path_.string() + " ");
  HostClient client = Client();
  const std::string id = Begin(client);
  const Reply first = client.Post(UpdatePath("Append"), AppendArgs(Dsn("en"), "D01"), In(id));
  ASSERT_EQ(first.status, 200) << first;
  const Reply second = client.Post(UpdatePath("Append"), AppendArgs(respelt, "D02"), In(id));
  ASSERT_EQ(second.status, 200) << "the second spelling joins the transaction's connection: " << second;
  const Reply commit = client.Post("/v1/transactions/" + id + "/commit", std::string());
  ASSERT_EQ(commit.status, 200) << commit;
  EXPECT_EQ(Settings(), (std::vector<std::string>{"V1|301|D01|E01|r", "V1|301|D02|E01|r"}));
}

}  // namespace
}  // namespace morvane::testing
