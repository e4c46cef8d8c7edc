#include "platform/RuntimeError.h"

namespace orvel::platform {

std::string ErrorDescription(int number) {
    switch (number) {
        case kErrInvalidCall:
            return "Invalid procedure call or argument";
        case kErrOverflow:
            return "Overflow";
        case kErrTypeMismatch:
            return "Type mismatch";
        case kErrPermissionDenied:
            return "Permission denied";
        case kErrObjectNotSet:
            return "Object variable or With block variable not set";
        case kErrCannotCreateObject:
            return "ActiveX component can't create object";
        case kErrServerUnavailable:
            return "The remote server machine does not exist or is unavailable";
        default:
            return "Application-defined or object-defined error";
    }
}

}  // namespace orvel::platform
