#include "status/ComponentStatus.h"

#include "platform/Hex.h"
#include "suite/ComponentCatalog.h"

namespace orvel::status {

std::int32_t DisplayCode(std::int32_t code, bool localServerSelected, std::int16_t hostKind) {
    if (code == kStatusRunning && !localServerSelected && hostKind == suite::kHostRemote) {
        return kStatusRunningRemote;
    }
    return code;
}

StatusPaint PaintForStatus(std::int32_t code, const std::string& name,
                           const std::string& remoteServerName,
                           const platform::RuntimeError& lastError) {
    StatusPaint paint;
    switch (code) {
        case kStatusRunning:
            paint = {"LOCAL", kGreen, kBlack, "Click to Disconnect " + name + " Server"};
            break;
        case kStatusRunningRemote:
            paint = {"( " + remoteServerName + " )", kGreen, kBlack,
                     "Click to Disconnect " + name + " Server"};
            break;
        case kStatusOffLine:
            paint = {"Off Line", kBlack, kGreen, "Click to Connect " + name + " Server"};
            break;
        case kStatusUnsupported:
            paint = {"Invalid Server", kBlack, kRed, name + " Server is not supported"};
            paint.rowVisible = false;
            paint.rowEnabled = false;
            break;
        case kStatusDComError:
            paint = {"DCom Error", kRed, kWhite,
                     name + " Error: " + lastError.description + " (" +
                         std::to_string(lastError.number) + ":0x" +
                         platform::Hex(lastError.number) + ")"};
            break;
        case kStatusNotRegistered:
            paint = {"Not Registered", kBlack, kRed, name + " Server is not Registered"};
            break;
        case kStatusRegistered:
            paint = {"Registered", kBlack, kGreen, name + " Server is Registered"};
            break;
        case kStatusNotAvailable:
            paint = {"Server Not Available", kRed, kWhite, name + " is not Available"};
            break;
        default:
            paint = {"Invalid Status", kRed, kWhite, name + " Server is not supported"};
            paint.panelEnabled = false;
            break;
    }
    return paint;
}

}  // namespace orvel::status
