// The process's one server core and one administration facade as the remote procedures see
// them. The host publishes each before it can be reached and clears it after the endpoint has
// stopped listening; the procedures themselves own nothing.
//
// Thread safety: publishing and reading are atomic; the host keeps a published object alive
// until it has cleared it and no call can still be running (listening has stopped).
#pragma once

#include "admin/ServerManagerProxy.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

void PublishServer(ServerCore::IServer* server);
ServerCore::IServer* PublishedServer();

void PublishFacade(ServerCore::ServerManagerProxy* facade);
ServerCore::ServerManagerProxy* PublishedFacade();

}  // namespace Korvane::Pictora::Rpc
