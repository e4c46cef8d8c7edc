#include "suiteserver/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <string>

namespace orvel::suiteserver {

void NotifyReady(std::string_view status) {
    const std::string message = "READY=1\nSTATUS=" + std::string(status);
    sd_notify(0, message.c_str());
}

void NotifyStopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=stopping the component servers");
}

}  // namespace orvel::suiteserver
