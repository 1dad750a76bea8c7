// ServiceObject: the state and call frame that the two public classes share. An object keeps the
// parsed description and the data source of its latest call (m_Parse, m_DataSource) and nothing
// else; InitDataEnv replaces them at the start of every call. Apartment rule: one call at a time.
#pragma once

#include <memory>
#include <string>

#include "datasource/c_data_source.h"
#include "datasource/c_parse.h"

namespace morvane::service {

class ServiceObject {
 protected:
  // Replaces m_Parse by a new parser of sDsn and, when it parses, m_DataSource by a new data source
  // bound to it. A parser error passes to the caller and leaves m_DataSource as it was.
  void InitDataEnv(const std::string& sDsn);

  // Declared in this order so that m_DataSource is released first when the object ends.
  std::shared_ptr<datasource::CParse> m_Parse;
  std::shared_ptr<datasource::CDataSource> m_DataSource;
};

}  // namespace morvane::service
