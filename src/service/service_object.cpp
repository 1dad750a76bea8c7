#include "service/service_object.h"

namespace morvane::service {

void ServiceObject::InitDataEnv(const std::string& sDsn) {
  m_Parse = std::make_shared<datasource::CParse>();
  m_Parse->ParseString(sDsn);
  auto dataSource = std::make_shared<datasource::CDataSource>();
  dataSource->ParseObject = m_Parse;
  m_DataSource = std::move(dataSource);
}

}  // namespace morvane::service
