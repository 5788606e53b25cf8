// Message texts of the web error codes: the table that FormatMessage-style look-ups consult.
#include "platform/web/WebRequest.h"

namespace platform {

std::string WebErrorMessage(std::uint32_t code) {
  switch (code) {
    case kWebErrInvalidHandle:
      return "The handle is invalid.";
    case kWebErrInvalidParameter:
      return "The parameter is incorrect.";
    case kWebErrOutOfHandles:
      return "No more handles could be generated at this time.";
    case kWebErrTimeout:
      return "The operation timed out.";
    case kWebErrInternal:
      return "An internal error occurred.";
    case kWebErrInvalidUrl:
      return "The URL is invalid.";
    case kWebErrUnrecognizedScheme:
      return "The URL does not use a recognized protocol.";
    case kWebErrNameNotResolved:
      return "The server name or address could not be resolved.";
    case kWebErrInvalidOption:
      return "The option is invalid.";
    case kWebErrOperationCancelled:
      return "The operation was canceled.";
    case kWebErrIncorrectHandleType:
      return "The type of handle supplied is incorrect for this operation.";
    case kWebErrIncorrectHandleState:
      return "The handle is in the wrong state for the requested operation.";
    case kWebErrCannotConnect:
      return "A connection with the server could not be established.";
    case kWebErrConnectionError:
      return "The connection with the server was terminated abnormally.";
    case kWebErrHeaderNotFound:
      return "The requested header could not be located.";
    case kWebErrInvalidServerResponse:
      return "The server response could not be parsed.";
    case kWebErrRedirectFailed:
      return "The redirection failed.";
    case kWebErrSecureFailure:
      return "A security error occurred.";
    default:
      return "";
  }
}

}  // namespace platform
