#include "rpc/PublishedObjects.h"

#include <atomic>

namespace Korvane::Pictora::Rpc {

namespace {
std::atomic<ServerCore::IServer*> g_server{nullptr};
std::atomic<ServerCore::ServerManagerProxy*> g_facade{nullptr};
}  // namespace

void PublishServer(ServerCore::IServer* server) { g_server.store(server); }
ServerCore::IServer* PublishedServer() { return g_server.load(); }

void PublishFacade(ServerCore::ServerManagerProxy* facade) { g_facade.store(facade); }
ServerCore::ServerManagerProxy* PublishedFacade() { return g_facade.load(); }

}  // namespace Korvane::Pictora::Rpc
