// A second console in a process of its own, for the tests (ORVEL_ROOT names
// the installation):
//   suite_probe create   creates a local instance; prints 0 or the error number
//   suite_probe hold     registers a client, prints "registered N", waits forever

#include <unistd.h>

#include <cstdio>
#include <string>

#include "QueueDispatcher.h"
#include "platform/InstallRoot.h"
#include "suiteclient/GrpcSuiteServerFactory.h"
#include "suiteclient/RpcRuntime.h"

int main(int argc, char** argv) {
    const std::string command = argc == 2 ? argv[1] : "";
    if (command != "create" && command != "hold") {
        std::fprintf(stderr, "usage: suite_probe create|hold\n");
        return 2;
    }
    orvel::suiteclient::RpcRuntime runtime;  // as the console holds it
    orvel::testing::QueueDispatcher dispatcher;
    orvel::suiteclient::SuiteServerEndpoints endpoints;
    endpoints.socketPath = orvel::platform::LocateInstallRoot().suiteServerSocket();
    endpoints.clientProgram = "suite_probe";
    orvel::suiteclient::GrpcSuiteServerFactory factory(endpoints, dispatcher);
    auto created = factory.CreateLocal();
    if (command == "create") {
        std::printf("%d\n", created ? 0 : created.error().number);
        return 0;
    }
    if (!created) {
        std::fprintf(stderr, "suite_probe: error %d: %s\n", created.error().number,
                     created.error().description.c_str());
        return 1;
    }
    std::printf("registered %d\n", (*created)->ConnectClient("ClientName").value_or(-1));
    std::fflush(stdout);
    for (;;) pause();
}
