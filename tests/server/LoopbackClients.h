#pragma once

// Raw clients of the suite server on loopback, below the console's own client:
// TLS credentials of a console bundle, a stub on a connection of its own, an
// instance made on it, and TCP connections that never speak. Shared by the
// transport tests and the RPC benchmarks.

#include <arpa/inet.h>
#include <grpcpp/grpcpp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "TempDir.h"
#include "platform/UniqueFd.h"
#include "suite_server.grpc.pb.h"

namespace orvel::testing {

// The credentials of a console bundle folder (ca.crt, console.key,
// console.crt); without the certificate: the authority's only.
inline std::shared_ptr<grpc::ChannelCredentials> BundleCredentials(const std::string& folder,
                                                                   bool withCertificate = true) {
    grpc::SslCredentialsOptions options;
    options.pem_root_certs = fakes::ReadFile(folder + "/ca.crt");
    if (withCertificate) {
        options.pem_private_key = fakes::ReadFile(folder + "/console.key");
        options.pem_cert_chain = fakes::ReadFile(folder + "/console.crt");
    }
    return grpc::SslCredentials(options);
}

// A channel to target on a connection of its own (no subchannel shared with
// another channel of this process).
inline std::shared_ptr<grpc::Channel> OwnChannel(
    const std::string& target, std::shared_ptr<grpc::ChannelCredentials> credentials) {
    grpc::ChannelArguments arguments;
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return grpc::CreateCustomChannel(target, std::move(credentials), arguments);
}

inline std::unique_ptr<rpc::SuiteServer::Stub> StubFor(
    const std::string& target, std::shared_ptr<grpc::ChannelCredentials> credentials) {
    return rpc::SuiteServer::NewStub(OwnChannel(target, std::move(credentials)));
}

// CreateInstance as program within deadline; the instance's handle in handle.
inline grpc::Status CreateInstanceOn(rpc::SuiteServer::Stub& stub, const std::string& program,
                                     std::chrono::milliseconds deadline,
                                     std::string* handle = nullptr) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + deadline);
    rpc::CreateInstanceRequest request;
    request.set_client_program(program);
    rpc::InstanceRef reply;
    auto status = stub.CreateInstance(&context, request, &reply);
    if (handle != nullptr) *handle = reply.instance();
    return status;
}

// GetComponentStatus of slot 0 on the instance handle, within deadline.
inline grpc::Status FirstStatusOn(rpc::SuiteServer::Stub& stub, const std::string& handle,
                                  std::chrono::milliseconds deadline) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + deadline);
    rpc::IndexRequest request;
    request.set_instance(handle);
    request.set_index(0);
    rpc::Int32Reply reply;
    return stub.GetComponentStatus(&context, request, &reply);
}

// A TCP connection to 127.0.0.1:port that sends nothing; none when refused.
inline platform::UniqueFd ConnectLoopback(std::uint16_t port) {
    platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

}  // namespace orvel::testing
