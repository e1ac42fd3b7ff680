// The local machine's names, fresh identifiers and error texts. No state; never throws.
#pragma once

#include <string>

namespace Korvane::Pictora::Global {

// gethostname, or empty text.
std::string LocalHostName();
// The first address getaddrinfo gives for the host name, as numeric text, or empty text.
std::string LocalAddress();
// The canonical name getaddrinfo gives (AI_CANONNAME), or empty text.
std::string LocalFullyQualifiedName();
// Lower-cased host name ";" address ";" fully qualified name (empty parts keep separators).
std::string LocalIdentities();
// A fresh UUID: 36 lower-case characters with hyphens.
std::string NewUniqueId();
// strerror text of an operating-system error number, trimmed.
std::string ErrorText(int code);
// ErrorText(errno), or empty text when errno is 0.
std::string LastErrorText();

}  // namespace Korvane::Pictora::Global
