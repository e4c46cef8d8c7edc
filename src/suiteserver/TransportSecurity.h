#pragma once

// What guards the suite server's TCP port: mutual TLS against the site's
// authority, the list of revoked console certificates, and who a caller is.

#include <grpcpp/security/server_credentials.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "suiteserver/ServerLog.h"
#include "suiteserver/SuiteEvents.h"

namespace orvel::suiteserver {

// The files of the TLS folder the server serves TCP with.
struct TlsFiles {
    std::string authorityCert;
    std::string serverCert;
    std::string serverKey;
    std::string revoked;
};
TlsFiles TlsFilesIn(const std::string& folder);

// Why TCP stays closed ("" when the authority's certificate and the server's
// key and certificate are all there and readable).
std::string TlsFilesProblem(const TlsFiles& files);

// A certificate's serial number (as suite::NormalizeSerial writes it)
// and common name; serial is empty when the text holds no certificate.
struct CertificateIdentity {
    std::string serial;
    std::string commonName;
};
CertificateIdentity IdentityOfPem(std::string_view pem);

// The revoked serial numbers, read again whenever the file changes (checked at
// every use: one stat). A missing file revokes nothing.
class RevocationList {
  public:
    explicit RevocationList(std::string path) : path_(std::move(path)) {}
    bool IsRevoked(const std::string& serial);
    // Changes whenever the list's content does.
    std::uint64_t Generation();

  private:
    void RefreshLocked();

    std::string path_;
    std::mutex mutex_;
    std::set<std::string> serials_;
    std::uint64_t generation_ = 0;
    struct timespec stamp_ {};
    off_t size_ = -1;
    ino_t inode_ = 0;
};

// TLS 1.2 or later, the server's key and certificate (read again when they are
// renewed), a client certificate required and verified against the
// authority, and refused when revoked (a refusal recorded in events, when given).
std::shared_ptr<grpc::ServerCredentials> MakeServerCredentials(const TlsFiles& files,
                                                               RevocationList& revoked,
                                                               ServerLog& log,
                                                               SuiteEvents* events = nullptr);

// 16 bytes from the kernel's random source.
std::string RandomHandle();

}  // namespace orvel::suiteserver
