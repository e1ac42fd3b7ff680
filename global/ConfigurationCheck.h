// Checks the documents an installation is configured with before they are used: the installation
// key, the server configuration, the services document and the provider configurations. Each
// problem names its file and element: a setting the server does not know, a value of the wrong
// type, a document that does not parse or lacks the element the server reads.
//
// Shared by `pictora-server --check-config`, the server's start-up (which logs what it finds) and
// the client tool (which checks a document before sending it), so all three agree.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Korvane::Pictora::Global {

enum class DocumentKind { kInstallationKey, kServerConfiguration, kServices, kProviderConfiguration };

struct ConfigurationProblem {
  std::string file;
  std::string element;  // empty when the whole document is at fault
  std::string message;

  // "FILE: ELEMENT: MESSAGE" (without the element when there is none).
  std::string ToString() const;
};

using ConfigurationProblems = std::vector<ConfigurationProblem>;

// The problems of a document's text; `file` is the name the problems carry. A server
// configuration or provider configuration may be a partial document (as a management update
// is): only its Config element is read, wherever it is.
ConfigurationProblems CheckDocument(DocumentKind kind, std::string_view text, const std::string& file);

// The problems of the installation as the server would read it: the installation key, then in
// the home folder's Server/ the server configuration, the services file and every provider file
// (*.PTPConfig). A server configuration or services file that is missing is no problem (the
// server writes the default one); an installation key that is missing is.
ConfigurationProblems CheckInstallation();

}  // namespace Korvane::Pictora::Global
