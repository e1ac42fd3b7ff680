// The services catalogue in the cluster store. A saved text reaches this server's services file
// through the replica, like any other change; Save returns once it has.
#pragma once

#include "servercore/ClusterReplica.h"
#include "servercore/ClusterWriter.h"
#include "servercore/IServicesCatalogue.h"

namespace Korvane::Pictora::ServerCore {

class ClusterCatalogue : public IServicesCatalogue {
 public:
  ClusterCatalogue(ClusterWriter& writer, ClusterReplica& replica) : writer_(writer), replica_(replica) {}
  Outcome Read(std::string& text, std::int64_t& version, std::string& error) override;
  Outcome Save(const std::string& text, std::int64_t version, std::string& error) override;

 private:
  ClusterWriter& writer_;
  ClusterReplica& replica_;
};

}  // namespace Korvane::Pictora::ServerCore
