/*
 * A service provider built the way Windows providers are: stubs generated from the interface
 * definitions and the Windows RPC runtime (here Wine's). It serves the provider interface on its
 * own TCP port, registers with the server through the server interface, and writes one line on
 * standard output for every call the server makes, with the arguments it received, so that a
 * test can check what arrived.
 *
 *   wine_provider.exe NAME SERVER_HOST SERVER_PORT OWN_PORT LOAD INFO_BYTES SERVICE
 *
 * INFO_BYTES is the length of the detailed information text plus its NUL (40000 fits the
 * server's first buffer exactly; more makes it ask again with the size returned). The program
 * runs until it is killed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pictora_provider.h"
#include "pictora_server.h"
#include "wine/exception.h"

void *__RPC_USER MIDL_user_allocate(SIZE_T length) { return malloc(length); }
void __RPC_USER MIDL_user_free(void *pointer) { free(pointer); }

static const char *providerName;
static double load;
static long infoBytes;
static CRITICAL_SECTION outputLock;

static void Say(const char *format, ...) {
  va_list args;
  va_start(args, format);
  EnterCriticalSection(&outputLock);
  vprintf(format, args);
  putchar('\n');
  fflush(stdout);
  LeaveCriticalSection(&outputLock);
  va_end(args);
}

/* The server sends every error text as 3999 letters "A": say whether this one came so. */
static int IsErrorPlaceholder(const char *text) {
  size_t length = strlen(text);
  return length == 3999 && strspn(text, "A") == length;
}

/* Writes a short error reply; it never grows past the placeholder the caller sent. */
static void ReplyError(char *errorText, const char *reply) {
  if (strlen(reply) <= strlen(errorText)) strcpy(errorText, reply);
}

boolean __cdecl ProviderPing(handle_t binding) {
  Say("call 0 ping");
  return 1;
}

LONG __cdecl ProviderGetInfo(handle_t binding, char *reportLevel, LONG size, char buffer[], char *errorText) {
  Say("call 15 info level=%s size=%ld placeholder=%d", reportLevel, (long)size, IsErrorPlaceholder(errorText));
  if (size < infoBytes) return infoBytes;
  /* <Basic> carries a filler of the length that makes the whole text INFO_BYTES - 1 long. */
  static const char head[] = "<ServiceProvider><Basic><Name>%s</Name><Filler>";
  static const char tail[] =
      "</Filler></Basic><Services><Service><Name>Images/Thumbs</Name><Requests>7</Requests></Service>"
      "</Services></ServiceProvider>";
  int written = snprintf(buffer, size, head, providerName);
  long filler = infoBytes - 1 - written - (long)strlen(tail);
  if (filler < 0) return -1;
  memset(buffer + written, 'f', filler);
  strcpy(buffer + written + filler, tail);
  return 0;
}

boolean __cdecl ProviderRefreshService(handle_t binding, char *serviceXml, char *errorText) {
  Say("call 17 refresh service=%s placeholder=%d", serviceXml, IsErrorPlaceholder(errorText));
  return 1;
}

void __cdecl ProviderGetLoad(handle_t binding, double *reportedLoad) {
  Say("call 19 load in=%g", *reportedLoad);
  *reportedLoad = load;
}

boolean __cdecl ProviderStartService(handle_t binding, char *caller, char *source, char *serviceName,
                                     char *serviceProperties, char *errorText) {
  Say("call 23 start caller=%s source=%s name=%s properties=%s placeholder=%d", caller, source, serviceName,
      serviceProperties, IsErrorPlaceholder(errorText));
  return 1;
}

boolean __cdecl ProviderStopService(handle_t binding, char *caller, char *serviceName, char *errorText) {
  Say("call 24 stop caller=%s name=%s placeholder=%d", caller, serviceName, IsErrorPlaceholder(errorText));
  return 1;
}

boolean __cdecl ProviderRefreshAllServices(handle_t binding, char *caller, char *errorText) {
  Say("call 25 refresh-all caller=%s placeholder=%d", caller, IsErrorPlaceholder(errorText));
  return 1;
}

boolean __cdecl ProviderRefreshConfiguration(handle_t binding, char *caller, char *errorText) {
  Say("call 26 refresh-configuration caller=%s placeholder=%d", caller, IsErrorPlaceholder(errorText));
  return 1;
}

/* The procedures the server never calls: logged and refused. */
#define UNUSED_PROCEDURE(number)                                                          \
  boolean __cdecl ProviderUnused##number(handle_t binding, char *text, char *errorText) { \
    Say("call %d unused text=%s", number, text);                                          \
    ReplyError(errorText, "not served");                                                  \
    return 0;                                                                             \
  }
UNUSED_PROCEDURE(1) UNUSED_PROCEDURE(2) UNUSED_PROCEDURE(3) UNUSED_PROCEDURE(4) UNUSED_PROCEDURE(5)
UNUSED_PROCEDURE(6) UNUSED_PROCEDURE(7) UNUSED_PROCEDURE(8) UNUSED_PROCEDURE(9) UNUSED_PROCEDURE(10)
UNUSED_PROCEDURE(11) UNUSED_PROCEDURE(12) UNUSED_PROCEDURE(13) UNUSED_PROCEDURE(14) UNUSED_PROCEDURE(16)
UNUSED_PROCEDURE(18) UNUSED_PROCEDURE(20) UNUSED_PROCEDURE(21) UNUSED_PROCEDURE(22)

/* Opens a session, registers the provider and its one service; 0 when all of it went through. */
static int Register(handle_t server, const char *ownPort, const char *service) {
  static char sessionId[64], errorText[4001], xml[1024];
  static int failed;
  memset(sessionId, 'x', 40);
  sessionId[40] = 0;
  memset(errorText, 'e', 4000);
  errorText[4000] = 0;
  failed = 1;
  __TRY {
    if (!OpenSession(server, (char *)"<SessionInfo><Application>PictoraProvider</Application></SessionInfo>",
                     sessionId, errorText)) {
      Say("open session failed: %.200s", errorText);
    } else {
      snprintf(xml, sizeof xml,
               "<ServiceProvider><Config><Name>%s</Name><HostMachine>127.0.0.1</HostMachine><Endpoint>%s</Endpoint>"
               "</Config><Dynamic><Load>%g</Load></Dynamic></ServiceProvider>",
               providerName, ownPort, load);
      if (!AddServiceProvider(server, sessionId, (char *)providerName, (LONG)strlen(xml) + 1, xml, errorText)) {
        Say("registration failed: %.200s", errorText);
      } else {
        snprintf(xml, sizeof xml, "<Pictora><ImageServices><Service><Name>%s</Name></Service></ImageServices></Pictora>",
                 service);
        if (!AddServices(server, sessionId, (char *)providerName, (LONG)strlen(xml) + 1, xml, errorText))
          Say("adding the service failed: %.200s", errorText);
        else
          failed = 0;
      }
    }
  }
  __EXCEPT_ALL { Say("call to the server failed: %lu", (unsigned long)GetExceptionCode()); }
  __ENDTRY
  return failed;
}

int main(int argc, char **argv) {
  InitializeCriticalSection(&outputLock);
  if (argc != 8) {
    Say("usage: wine_provider.exe NAME SERVER_HOST SERVER_PORT OWN_PORT LOAD INFO_BYTES SERVICE");
    return 2;
  }
  providerName = argv[1];
  load = atof(argv[5]);
  infoBytes = atol(argv[6]);

  RPC_STATUS status = RpcServerUseProtseqEpA((RPC_CSTR) "ncacn_ip_tcp", 20, (RPC_CSTR)argv[4], NULL);
  if (status == RPC_S_OK) status = RpcServerRegisterIf(PictoraProvider_v1_0_s_ifspec, NULL, NULL);
  if (status == RPC_S_OK) status = RpcServerListen(1, 20, TRUE);
  if (status != RPC_S_OK) {
    Say("cannot serve on port %s: %lu", argv[4], (unsigned long)status);
    return 1;
  }
  Say("listening on port %s", argv[4]);

  RPC_CSTR text;
  handle_t server;
  RpcStringBindingComposeA(NULL, (RPC_CSTR) "ncacn_ip_tcp", (RPC_CSTR)argv[2], (RPC_CSTR)argv[3], NULL, &text);
  status = RpcBindingFromStringBindingA(text, &server);
  RpcStringFreeA(&text);
  if (status != RPC_S_OK || Register(server, argv[4], argv[7]) != 0) return 1;
  Say("registered %s", providerName);
  RpcMgmtWaitServerListen();
  return 0;
}
