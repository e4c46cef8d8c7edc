#pragma once

// A real Orvel_Server on a temporary installation root: registry store, suite
// folder with copies of the demo component, socket folder.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QueueDispatcher.h"
#include "platform/Registry.h"
#include "suiteclient/GrpcSuiteServerFactory.h"

namespace orvel::testing {

class SuiteServerHarness {
  public:
    SuiteServerHarness();
    ~SuiteServerHarness();

    std::string root;         // ORVEL_ROOT of the server
    std::string suiteFolder;  // holds the component programs
    std::string socketPath;
    pid_t serverPid = 0;
    QueueDispatcher dispatcher;
    // The last reason a factory of MakeFactory gave for a failed remote connection.
    std::string lastProblem;

    platform::Registry& Registry() { return *registry_; }
    void SetString(platform::HKEY hive, const std::string& key, const std::string& name,
                   const std::string& text);
    void SetDword(platform::HKEY hive, const std::string& key, const std::string& name,
                  std::uint32_t value);
    // Copies the demo component to the suite folder as the slot's program and
    // registers the slot's class with it; returns the program path.
    std::string InstallComponent(int slot);

    // Starts Orvel_Server and waits until its socket answers.
    void StartServer();
    // SIGTERM and wait; returns the wait status.
    int StopServer();
    std::string ServerLog() const;

    suiteclient::GrpcSuiteServerFactory& Factory();
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> MakeFactory(
        std::uint16_t tcpPort, std::chrono::milliseconds deadline);

    // The site authority and the server's certificate (orvel-cert init), and a
    // console bundle for this computer installed in the same root.
    void SetUpTls();

    // Starts a program of the build with ORVEL_ROOT set; *output reads its
    // standard output. The process id, 0 when it could not start.
    pid_t StartProgram(const std::vector<std::string>& args, int* output);
    // Runs a program of the build with ORVEL_ROOT set; its standard output.
    std::string RunProgram(const std::vector<std::string>& args, int* exitCode);

  private:
    std::unique_ptr<platform::Registry> registry_;
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> factory_;
};

std::string BinDir();
// Polls done() until it holds or the limit passes; done()'s last answer.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
std::uint16_t FreeTcpPort();
// Processes whose executable is path.
std::vector<pid_t> ProcessesRunning(const std::string& path);
// The texts as a null-ended argument list for exec (pointers into texts).
std::vector<char*> Pointers(std::vector<std::string>& texts);
// Stops pid, a child of this process (the server), with SIGSTOP and returns
// once it is stopped, so that no reply of it is still on its way.
void StopProcess(pid_t pid);

}  // namespace orvel::testing
