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

#include <cctype>
#include <fstream>

namespace orvel::suiteserver {

namespace {

// How often the server's key and certificate files are looked at again, so a
// renewed certificate is served without a restart.
constexpr unsigned kCertificateRefreshSeconds = 30;

class RevocationVerifier final : public grpc::experimental::ExternalCertificateVerifier {
  public:
    RevocationVerifier(RevocationList& revoked, ServerLog& log) : revoked_(revoked), log_(log) {}

    bool Verify(grpc::experimental::TlsCustomVerificationCheckRequest* request,
                std::function<void(grpc::Status)>, grpc::Status* syncStatus) override {
        auto pem = request->peer_cert();
        auto identity = IdentityOfPem(std::string_view(pem.data(), pem.size()));
        if (identity.serial.empty()) {
            *syncStatus = {grpc::StatusCode::UNAUTHENTICATED, "no client certificate"};
        } else if (revoked_.IsRevoked(identity.serial)) {
            log_.Line("TLS: refused the revoked certificate " + identity.serial + " of \"" +
                      identity.commonName + "\"");
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

std::string NormalizeSerial(std::string_view text) {
    if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") text.remove_prefix(2);
    std::string out;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t' || c == '\r') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        if (out.empty() && c == '0') continue;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out.empty() && !text.empty() ? "0" : out;
}

CertificateIdentity IdentityOfPem(std::string_view pem) {
    CertificateIdentity identity;
    if (pem.empty()) return identity;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) return identity;
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (cert == nullptr) return identity;
    if (BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
        if (char* hex = BN_bn2hex(number)) {
            identity.serial = NormalizeSerial(hex);
            OPENSSL_free(hex);
        }
        BN_free(number);
    }
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, name, sizeof name) >
        0) {
        identity.commonName = name;
    }
    X509_free(cert);
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
    std::set<std::string> serials;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        auto end = line.find_first_of(" \t#");
        std::string serial = NormalizeSerial(line.substr(0, end));
        if (!serial.empty()) serials.insert(serial);
    }
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
                                                               ServerLog& log) {
    auto provider = std::make_shared<grpc::experimental::FileWatcherCertificateProvider>(
        files.serverKey, files.serverCert, files.authorityCert, kCertificateRefreshSeconds);
    grpc::experimental::TlsServerCredentialsOptions options(provider);
    options.watch_root_certs();
    options.watch_identity_key_cert_pairs();
    options.set_cert_request_type(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
    options.set_certificate_verifier(
        grpc::experimental::ExternalCertificateVerifier::Create<RevocationVerifier>(revoked, log));
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
