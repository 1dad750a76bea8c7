// The test table T described to a builder: FID nvarchar(10) and FNo int form the key (items 1
// and 2), FName nvarchar(20) (item 3) and FQty int (item 4) are optional.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "commandbuilder/builder_database.h"
#include "commandbuilder/command_builder.h"

namespace morvane::testing {

struct TableTOptions {
  std::string nameSource;  // SourceID of FName
  bool nameIndex = false;  // Index of FName
  std::string qtyLayout;   // Layout of FQty

  static TableTOptions NameSource(std::string source) {
    TableTOptions o;
    o.nameSource = std::move(source);
    return o;
  }
  static TableTOptions NameIndex() {
    TableTOptions o;
    o.nameIndex = true;
    return o;
  }
  static TableTOptions QtyLayout(std::string layout) {
    TableTOptions o;
    o.qtyLayout = std::move(layout);
    return o;
  }
};

inline void DescribeT(commandbuilder::CommandBuilder& b, const TableTOptions& o = {}) {
  b.DescribField("FID", 202, 10, true, {}, {}, "", false, true, "", 1);
  b.DescribField("FNo", 3, 0, true, {}, {}, "", false, true, "", 2);
  b.DescribField("FName", 202, 20, false, {}, {}, "", o.nameIndex, false, o.nameSource, 3);
  b.DescribField("FQty", 3, 0, false, {}, {}, o.qtyLayout, false, false, "", 4);
}

inline std::unique_ptr<commandbuilder::CommandBuilder> BuilderOnT(BuilderDatabase& db, const TableTOptions& o = {},
                                                                  const std::string& language = "chs") {
  auto b = std::make_unique<commandbuilder::CommandBuilder>();
  b->InitClassDataEnv(db.Dsn(language));
  b->Create("T");
  DescribeT(*b, o);
  return b;
}

}  // namespace morvane::testing
