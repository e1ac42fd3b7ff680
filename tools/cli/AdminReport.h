// The server-manager report (procedure 27) for people.
#pragma once

#include <string>

namespace Korvane::Pictora::Tools {

// The server's version, endpoint and start, a table of the providers with their state and load,
// and a table of the services with their state, the providers they are meant for ("all" when
// the list is empty), run on and failed on. A failure status of a provider or a service follows
// its row as readable lines. Empty text when the report does not parse.
std::string ServerReportText(const std::string& reportXml);

}  // namespace Korvane::Pictora::Tools
