#include "suiteserver/TransportSecurity.h"

#include <grpcpp/security/tls_certificate_provider.h>
#include <grpcpp/security/tls_certificate_verifier.h>
#include <grpcpp/security/tls_credentials_options.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/FileReplace.h"
#include "suite/CertificateSerial.h"

namespace orvel::suiteserver {

namespace {

// How often the server's key and certificate files are looked at again, so a
// renewed certificate is served without a restart.
constexpr unsigned kCertificateRefreshSeconds = 30;

class RevocationVerifier final : public grpc::experimental::ExternalCertificateVerifier {
  public:
    RevocationVerifier(RevocationList& revoked, ServerLog& log, SuiteEvents* events)
        : revoked_(revoked), log_(log), events_(events) {}

    bool Verify(grpc::experimental::TlsCustomVerificationCheckRequest* request,
                std::function<void(grpc::Status)>, grpc::Status* syncStatus) override {
        auto pem = request->peer_cert();
        auto identity = IdentityOfPem(std::string_view(pem.data(), pem.size()));
        if (identity.serial.empty()) {
            *syncStatus = {grpc::StatusCode::UNAUTHENTICATED, "no client certificate"};
        } else if (revoked_.IsRevoked(identity.serial)) {
            log_.Line("TLS: refused the revoked certificate " + identity.serial + " of \"" +
                      identity.commonName + "\"");
            if (events_ != nullptr) {
                SuiteEvent event;
                event.kind = SuiteEventKind::kTlsRefused;
                event.client = "certificate " + identity.serial + " of \"" +
                               EscapeForLog(identity.commonName) + "\"";
                event.detail = "certificate revoked";
                events_->Record(event);
            }
            *syncStatus = {grpc::StatusCode::UNAUTHENTICATED, "certificate revoked"};
        } else {
            *syncStatus = grpc::Status::OK;
        }
        return true;  // answered at once
    }
    void Cancel(grpc::experimental::TlsCustomVerificationCheckRequest*) override {}

  private:
    RevocationList& revoked_;
    ServerLog& log_;
    SuiteEvents* events_;
};

bool Readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

}  // namespace

TlsFiles TlsFilesIn(const std::string& folder) {
    return {folder + "/ca.crt", folder + "/server.crt", folder + "/server.key",
            folder + "/revoked"};
}

std::string TlsFilesProblem(const TlsFiles& files) {
    for (const auto* path : {&files.authorityCert, &files.serverCert, &files.serverKey}) {
        if (!Readable(*path)) {
            struct stat info {};
            bool exists = stat(path->c_str(), &info) == 0;
            return (exists ? "cannot read " : "missing ") + *path +
                   " (create the site authority and the server's certificate with orvel-cert)";
        }
    }
    return {};
}

// OpenSSL objects owned as unique_ptrs, freed on every path.
template <auto Free>
struct OpensslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};
using BioPtr = std::unique_ptr<BIO, OpensslFree<BIO_free>>;
using X509Ptr = std::unique_ptr<X509, OpensslFree<X509_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpensslFree<BN_free>>;

void FreeOpensslText(char* text) {
    OPENSSL_free(text);
}
using OpensslText = std::unique_ptr<char, OpensslFree<FreeOpensslText>>;

CertificateIdentity IdentityOfPem(std::string_view pem) {
    CertificateIdentity identity;
    if (pem.empty()) return identity;
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return identity;
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) return identity;
    BignumPtr number(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert.get()), nullptr));
    if (number) {
        if (OpensslText hex{BN_bn2hex(number.get())})
            identity.serial = suite::NormalizeSerial(hex.get());
    }
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, name,
                                  sizeof name) > 0) {
        identity.commonName = name;
    }
    return identity;
}

void RevocationList::RefreshLocked() {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        if (size_ != -1 || !serials_.empty()) {
            serials_.clear();
            ++generation_;
        }
        size_ = -1;
        return;
    }
    if (info.st_size == size_ && info.st_ino == inode_ && info.st_mtim.tv_sec == stamp_.tv_sec &&
        info.st_mtim.tv_nsec == stamp_.tv_nsec) {
        return;
    }
    std::set<std::string> serials =
        suite::ParseRevokedSerials(platform::ReadWholeFile(path_).value_or(""));
    size_ = info.st_size;
    inode_ = info.st_ino;
    stamp_ = info.st_mtim;
    if (serials != serials_) {
        serials_.swap(serials);
        ++generation_;
    }
}

bool RevocationList::IsRevoked(const std::string& serial) {
    std::lock_guard lock(mutex_);
    RefreshLocked();
    return serials_.count(serial) != 0;
}

std::uint64_t RevocationList::Generation() {
    std::lock_guard lock(mutex_);
    RefreshLocked();
    return generation_;
}

std::shared_ptr<grpc::ServerCredentials> MakeServerCredentials(const TlsFiles& files,
                                                               RevocationList& revoked,
                                                               ServerLog& log,
                                                               SuiteEvents* events) {
    auto provider = std::make_shared<grpc::experimental::FileWatcherCertificateProvider>(
        files.serverKey, files.serverCert, files.authorityCert, kCertificateRefreshSeconds);
    grpc::experimental::TlsServerCredentialsOptions options(provider);
    options.watch_root_certs();
    options.watch_identity_key_cert_pairs();
    options.set_cert_request_type(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
    options.set_certificate_verifier(
        grpc::experimental::ExternalCertificateVerifier::Create<RevocationVerifier>(revoked, log,
                                                                                    events));
    return grpc::experimental::TlsServerCredentials(options);
}

std::string RandomHandle() {
    std::string bytes(16, '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::abort();  // no kernel randomness: never hand out guessable numbers
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace orvel::suiteserver
