// A small suite server client for tests and for trying a server by hand
// (ORVEL_ROOT names the installation):
//   suite_probe create            creates a local instance; prints 0 or the error number
//   suite_probe remote NAME       the same on computer NAME over TLS, with the
//                                 installation's console bundle
//   suite_probe hold              registers a client, prints "registered N", waits forever
//   suite_probe session INDEX     connects, starts slot INDEX, waits for the change
//                                 event, stops it, waits again, disconnects

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "QueueDispatcher.h"
#include "platform/InstallRoot.h"
#include "suite/SuiteServerSettings.h"
#include "suiteclient/GrpcSuiteServerFactory.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: suite_probe create|hold|session INDEX\n");
        return 2;
    }
    std::string command = argv[1];
    orvel::testing::QueueDispatcher dispatcher;
    orvel::suiteclient::SuiteServerEndpoints endpoints;
    auto root = orvel::platform::LocateInstallRoot();
    endpoints.socketPath = root.suiteServerSocket();
    endpoints.clientProgram = "suite_probe";
    endpoints.tlsFolder = orvel::suite::TlsFolder(root.registryStore);
    if (const char* port = std::getenv("ORVEL_TCP_PORT")) {
        endpoints.tcpPort = static_cast<std::uint16_t>(std::atoi(port));
    }
    orvel::suiteclient::GrpcSuiteServerFactory factory(endpoints, dispatcher);
    if (command == "remote" && argc == 3) {
        auto remote = factory.CreateRemote(argv[2]);
        if (!remote) {
            std::printf("%d\n", remote.error().number);
            return 1;
        }
        std::printf("0 %s\n", (*remote)->GetServerName().value_or("?").c_str());
        return 0;
    }
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
    auto server = *created;
    if (command == "hold") {
        auto number = server->ConnectClient("ClientName");
        std::printf("registered %d\n", number.value_or(-1));
        std::fflush(stdout);
        for (;;) pause();
    }
    if (command == "session" && argc == 3) {
        auto index = static_cast<std::int16_t>(std::atoi(argv[2]));
        int events = 0;
        server->SetEventHandlers({[&](std::int16_t idx) {
                                      std::printf("EventOrvelServerChange(%d)\n", idx);
                                      ++events;
                                  },
                                  [](std::int16_t m, std::int16_t v, const std::string& s) {
                                      std::printf("EventOrvelMessage(%d, %d, \"%s\")\n", m, v,
                                                  s.c_str());
                                  }});
        std::printf("ConnectClient -> %d\n", server->ConnectClient("ClientName").value_or(-1));
        std::printf("StartComponent(%d) -> %d\n", index,
                    server->StartComponent(index).value_or(-1));
        dispatcher.RunUntil([&] { return events >= 1; }, 2s);
        std::printf("GetComponentStatus(%d) -> %d\n", index,
                    server->GetComponentStatus(index).value_or(-1));
        std::printf("StopComponent(%d) -> %d\n", index, server->StopComponent(index).value_or(-1));
        dispatcher.RunUntil([&] { return events >= 2; }, 10s);
        std::printf("GetComponentStatus(%d) -> %d\n", index,
                    server->GetComponentStatus(index).value_or(-1));
        std::printf("DisconnectClient -> %d\n", server->DisconnectClient().value_or(-1));
        return 0;
    }
    std::fprintf(stderr, "suite_probe: unknown command\n");
    return 2;
}
