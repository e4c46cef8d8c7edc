#include "platform/VersionInfo.h"

#include "VersionInfoValues.h"

namespace orvel::platform {

VersionInfo ProgramVersionInfo() {
    VersionInfo info;
    info.title = ORVEL_VERSION_TITLE;
    info.exeName = ORVEL_VERSION_EXENAME;
    info.comments = ORVEL_VERSION_COMMENTS;
    info.major = ORVEL_VERSION_MAJOR;
    info.minor = ORVEL_VERSION_MINOR;
    info.revision = ORVEL_VERSION_REVISION;
    info.companyName = ORVEL_VERSION_COMPANY;
    info.legalCopyright = ORVEL_VERSION_COPYRIGHT;
    info.legalTrademarks = ORVEL_VERSION_TRADEMARKS;
    info.fileDescription = ORVEL_VERSION_DESCRIPTION;
    info.releaseMarker = ORVEL_RELEASE_MARKER;
    return info;
}

}  // namespace orvel::platform
