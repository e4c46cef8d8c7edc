#include "CertTool.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "platform/FileReplace.h"
#include "platform/UniqueFd.h"
#include "platform/linux/ProcFs.h"
#include "platform/linux/Spawn.h"
#include "suite/CertificateSerial.h"
#include "suite/ServerName.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::tools {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSuiteGroup = "orvel";
constexpr int kAuthorityDays = 3650;
constexpr int kServerDays = 825;
constexpr int kConsoleDays = 825;

std::string Join(const std::string& folder, std::string_view name) {
    return folder + "/" + std::string(name);
}

// The program as the shell would find it: a name without '/' is looked up
// along PATH; "" when no executable file of that name is there.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return {};
        folders.remove_prefix(colon + 1);
    }
}

// Runs openssl with args; its standard output and error together, and its exit code.
int RunOpenssl(const CertContext& context, std::vector<std::string> args, std::string* output) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    platform::UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    platform::UniqueFd nothing(open("/dev/null", O_RDONLY | O_CLOEXEC));
    platform::SpawnRequest request;
    request.program = FindProgram(context.openssl);
    request.argv0 = context.openssl;
    request.arguments = std::move(args);
    request.standardInput = nothing.get();
    request.standardOutput = writeEnd.get();
    request.standardError = writeEnd.get();
    platform::SpawnResult started;
    if (request.program.empty()) {
        started.error = ENOENT;
    } else {
        started = platform::Spawn(request);
    }
    writeEnd.reset();
    if (started.pid <= 0) {
        if (output) *output = "cannot run " + context.openssl + ": " + std::strerror(started.error);
        return -1;
    }
    std::string text = platform::ReadOpenFile(readEnd.get(), 1 << 24).value_or("");
    int status = 0;
    while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs openssl and reports its words when it fails.
bool Openssl(const CertContext& context, const std::vector<std::string>& args,
             std::string* output = nullptr) {
    std::string text;
    int code = RunOpenssl(context, args, &text);
    if (code != 0) {
        context.err << "orvel-cert: openssl " << (args.empty() ? "" : args[0])
                    << " failed: " << text << (text.empty() || text.back() != '\n' ? "\n" : "");
        return false;
    }
    if (output) *output = text;
    return true;
}

std::optional<gid_t> SuiteGroup() {
    if (const group* entry = getgrnam(kSuiteGroup)) return entry->gr_gid;
    return std::nullopt;
}

// The group's rights fall back to those of others where the suite's group
// cannot be given, so a file meant for the group is never opened to the
// user's own group instead.
mode_t WithoutGroupRights(mode_t mode) {
    return (mode & ~static_cast<mode_t>(S_IRWXG)) | ((mode & S_IRWXO) << 3);
}

// mode, and the suite's group where it exists (the server and the consoles run
// as operators of that group).
void Protect(const std::string& path, mode_t mode, bool suiteGroup) {
    if (suiteGroup) {
        const std::optional<gid_t> gid = SuiteGroup();
        if (!gid || chown(path.c_str(), static_cast<uid_t>(-1), *gid) != 0) {
            mode = WithoutGroupRights(mode);
        }
    }
    chmod(path.c_str(), mode);
}

// Writes the file whole with its final mode and the suite's group set before
// any content lands; without the group, as Protect does.
bool WriteAtomically(const std::string& path, const std::string& text, mode_t mode) {
    const std::optional<gid_t> group = SuiteGroup();
    if (!group) mode = WithoutGroupRights(mode);
    std::error_code failure = platform::ReplaceFile(path, text, {.mode = mode, .group = group});
    if (failure == std::errc::operation_not_permitted && group) {
        failure = platform::ReplaceFile(path, text,
                                        {.mode = WithoutGroupRights(mode), .group = std::nullopt});
    }
    return !failure;
}

// The serial in openssl's words ("serial=0A1B\n" or a bare hexadecimal line).
std::string SerialFromOpenssl(std::string_view text) {
    std::size_t equal = text.find('=');
    if (equal != std::string_view::npos) text.remove_prefix(equal + 1);
    return suite::NormalizeSerial(text.substr(0, text.find('\n')));
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsAddress(const std::string& text) {
    in6_addr v6{};
    in_addr v4{};
    return inet_pton(AF_INET, text.c_str(), &v4) == 1 ||
           inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

// The computer's names and addresses for the server's certificate.
std::vector<std::string> OwnNames() {
    std::vector<std::string> names = {HostName(), "localhost", "127.0.0.1", "::1"};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (entry->ifa_addr->sa_family == AF_INET) {
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                          sizeof text);
            } else if (entry->ifa_addr->sa_family == AF_INET6) {
                const auto* address = reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
                if (IN6_IS_ADDR_LINKLOCAL(&address->sin6_addr)) continue;
                inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text);
            } else {
                continue;
            }
            names.emplace_back(text);
        }
        freeifaddrs(list);
    }
    return names;
}

std::string SubjectAltNames(const std::vector<std::string>& names) {
    std::set<std::string> seen;
    std::string out;
    for (const auto& name : names) {
        if (name.empty() || !seen.insert(name).second) continue;
        if (!out.empty()) out += ",";
        out += (IsAddress(name) ? "IP:" : "DNS:") + name;
    }
    return out;
}

std::string RandomSerial(const CertContext& context) {
    std::string text;
    if (!Openssl(context, {"rand", "-hex", "16"}, &text)) return {};
    text = SerialFromOpenssl(text);
    return text.empty() ? std::string() : "0x" + text;
}

struct Paths {
    std::string folder, caKey, caCert, serverKey, serverCert, revoked, issued, bundles, console,
        serverNames;
};

Paths PathsOf(const std::string& folder) {
    return {folder,
            Join(folder, suite::kAuthorityKeyFile),
            Join(folder, suite::kAuthorityCertFile),
            Join(folder, suite::kServerKeyFile),
            Join(folder, suite::kServerCertFile),
            Join(folder, suite::kRevokedFile),
            Join(folder, "issued"),
            Join(folder, "bundles"),
            Join(folder, suite::kConsoleBundleFolder),
            Join(folder, "server.names")};
}

bool MakeFolder(const std::string& path, mode_t mode, const CertContext& context) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        context.err << "orvel-cert: cannot create " << path << ": " << error.message() << "\n";
        return false;
    }
    Protect(path, mode, true);
    return true;
}

// Signs a new key's request with the authority; writes key and certificate.
bool IssueCertificate(const CertContext& context, const Paths& paths, const std::string& commonName,
                      const std::string& usage, const std::string& altNames, int days,
                      const std::string& keyPath, const std::string& certPath) {
    std::string work = certPath + ".work";
    std::string newKey = keyPath + ".new", request = work + ".csr", extensions = work + ".ext";
    std::string serial = RandomSerial(context);
    if (serial.empty()) return false;
    std::string ext =
        "basicConstraints=critical,CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=" +
        usage + "\n";
    if (!altNames.empty()) ext += "subjectAltName=" + altNames + "\n";
    if (!WriteAtomically(extensions, ext, 0600)) return false;
    mode_t previous = umask(0077);
    bool ok = Openssl(context, {"genpkey", "-algorithm", "EC", "-pkeyopt",
                                "ec_paramgen_curve:P-256", "-out", newKey}) &&
              Openssl(context, {"req", "-new", "-key", newKey, "-subj", "/CN=" + commonName, "-out",
                                request}) &&
              Openssl(context, {"x509", "-req", "-in", request, "-CA", paths.caCert, "-CAkey",
                                paths.caKey, "-set_serial", serial, "-days", std::to_string(days),
                                "-sha256", "-extfile", extensions, "-out", work});
    umask(previous);
    std::remove(request.c_str());
    std::remove(extensions.c_str());
    if (!ok) {
        std::remove(newKey.c_str());
        std::remove(work.c_str());
        return false;
    }
    Protect(newKey, 0640, true);
    Protect(work, 0644, true);
    // Key first, then certificate: a reader never pairs a new certificate with an old key
    // for longer than the two renames.
    if (std::rename(newKey.c_str(), keyPath.c_str()) != 0 ||
        std::rename(work.c_str(), certPath.c_str()) != 0) {
        context.err << "orvel-cert: cannot write " << certPath << "\n";
        return false;
    }
    return true;
}

bool HaveAuthority(const Paths& paths, const CertContext& context) {
    if (access(paths.caKey.c_str(), R_OK) == 0 && access(paths.caCert.c_str(), R_OK) == 0)
        return true;
    context.err
        << "orvel-cert: no site authority in " << paths.folder
        << " (create it with \"orvel-cert init\"; the authority's key is readable by root only)\n";
    return false;
}

struct Options {
    std::vector<std::string> names;
    int days = 0;
    std::vector<std::string> positional;
    std::string problem;
};

Options ParseOptions(const std::vector<std::string>& args, std::size_t from) {
    Options options;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--name" || arg == "--days") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (arg == "--name") {
                if (!suite::IsValidServerName(value) && !IsAddress(value)) {
                    options.problem = "not a host name or address: \"" + value + "\"";
                }
                options.names.push_back(value);
            } else {
                char* end = nullptr;
                long days = std::strtol(value.c_str(), &end, 10);
                if (*end != '\0' || days < 1 || days > 36500) {
                    options.problem = "--days takes 1 to 36500";
                }
                options.days = static_cast<int>(days);
            }
        } else if (arg.rfind("--", 0) == 0) {
            options.problem = "unknown option \"" + arg + "\"";
        } else {
            options.positional.push_back(arg);
        }
    }
    return options;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool IssueServer(const CertContext& context, const Paths& paths, const Options& options) {
    std::vector<std::string> extra = Lines(ReadText(paths.serverNames));
    for (const auto& name : options.names) {
        if (std::find(extra.begin(), extra.end(), name) == extra.end()) extra.push_back(name);
    }
    std::vector<std::string> names = OwnNames();
    names.insert(names.end(), extra.begin(), extra.end());
    std::string joined;
    for (const auto& name : extra) joined += name + "\n";
    WriteAtomically(paths.serverNames, joined, 0644);
    if (!IssueCertificate(context, paths, HostName(), "serverAuth", SubjectAltNames(names),
                          options.days > 0 ? options.days : kServerDays, paths.serverKey,
                          paths.serverCert)) {
        return false;
    }
    context.out << "server certificate " << paths.serverCert << " for " << SubjectAltNames(names)
                << "\n";
    return true;
}

int Init(const CertContext& context, const Paths& paths, const Options& options) {
    if (!MakeFolder(paths.folder, 0750, context)) return 1;
    if (access(paths.caKey.c_str(), F_OK) != 0) {
        mode_t previous = umask(0077);
        bool ok = Openssl(context, {"genpkey", "-algorithm", "EC", "-pkeyopt",
                                    "ec_paramgen_curve:P-256", "-out", paths.caKey}) &&
                  Openssl(context, {"req", "-x509", "-new", "-key", paths.caKey, "-sha256", "-days",
                                    std::to_string(kAuthorityDays), "-subj",
                                    "/CN=Orvel site authority " + HostName(), "-addext",
                                    "basicConstraints=critical,CA:TRUE", "-addext",
                                    "keyUsage=critical,keyCertSign,cRLSign", "-out", paths.caCert});
        umask(previous);
        if (!ok) {
            std::remove(paths.caKey.c_str());
            return 1;
        }
        chmod(paths.caKey.c_str(), 0600);  // the authority's key: its owner (root) only
        chmod(paths.caCert.c_str(), 0644);
        context.out << "site authority " << paths.caCert << " created\n";
    } else {
        context.out << "site authority " << paths.caCert << " kept\n";
    }
    if (!HaveAuthority(paths, context)) return 1;
    return IssueServer(context, paths, options) ? 0 : 1;
}

int Bundle(const CertContext& context, const Paths& paths, const Options& options) {
    if (options.positional.size() != 1) {
        context.err << "orvel-cert: bundle takes the name of the console's computer\n";
        return 2;
    }
    const std::string& computer = options.positional[0];
    if (!suite::IsValidServerName(computer)) {
        context.err << "orvel-cert: not a computer name: \"" << computer << "\"\n";
        return 2;
    }
    if (!HaveAuthority(paths, context)) return 1;
    std::string folder = Join(paths.bundles, computer);
    if (!MakeFolder(paths.bundles, 0750, context) || !MakeFolder(paths.issued, 0750, context) ||
        !MakeFolder(folder, 0750, context)) {
        return 1;
    }
    std::string cert = Join(folder, suite::kBundleCertFile);
    std::string altNames = IsAddress(computer) ? "IP:" + computer : "DNS:" + computer;
    if (!IssueCertificate(context, paths, computer, "clientAuth", altNames,
                          options.days > 0 ? options.days : kConsoleDays,
                          Join(folder, suite::kBundleKeyFile), cert)) {
        return 1;
    }
    std::string authority = Join(folder, suite::kAuthorityCertFile);
    if (!WriteAtomically(authority, ReadText(paths.caCert), 0644)) return 1;
    std::string serial;
    if (!Openssl(context, {"x509", "-noout", "-serial", "-in", cert}, &serial)) return 1;
    serial = SerialFromOpenssl(serial);
    WriteAtomically(Join(paths.issued, serial + ".crt"), ReadText(cert), 0644);
    context.out << "console bundle for " << computer << " (serial " << serial << ") in " << folder
                << "\ncopy this folder to " << computer
                << " and run \"orvel-cert install FOLDER\" there\n";
    return 0;
}

int Install(const CertContext& context, const Paths& paths, const Options& options) {
    if (options.positional.size() != 1) {
        context.err << "orvel-cert: install takes the bundle's folder\n";
        return 2;
    }
    const std::string& from = options.positional[0];
    std::string authority = Join(from, suite::kAuthorityCertFile);
    std::string cert = Join(from, suite::kBundleCertFile);
    std::string key = Join(from, suite::kBundleKeyFile);
    for (const auto& path : {authority, cert, key}) {
        if (access(path.c_str(), R_OK) != 0) {
            context.err << "orvel-cert: " << from << " is not a console bundle: cannot read "
                        << path << "\n";
            return 1;
        }
    }
    std::string words;
    if (RunOpenssl(context, {"verify", "-CAfile", authority, cert}, &words) != 0) {
        context.err << "orvel-cert: the bundle's certificate is not signed by its authority: "
                    << words;
        return 1;
    }
    if (!MakeFolder(paths.folder, 0750, context) || !MakeFolder(paths.console, 0750, context))
        return 1;
    std::string target = paths.console;
    if (!WriteAtomically(Join(target, suite::kBundleKeyFile), ReadText(key), 0600) ||
        !WriteAtomically(Join(target, suite::kBundleCertFile), ReadText(cert), 0644) ||
        !WriteAtomically(Join(target, suite::kAuthorityCertFile), ReadText(authority), 0644)) {
        context.err << "orvel-cert: cannot write the bundle to " << target << "\n";
        return 1;
    }
    Protect(Join(target, suite::kBundleKeyFile), 0640, true);
    context.out << "console bundle installed in " << target << "\n";
    return 0;
}

std::set<std::string> RevokedSerials(const Paths& paths) {
    return suite::ParseRevokedSerials(ReadText(paths.revoked));
}

struct Issued {
    std::string serial, computer, expires, path;
};

std::vector<Issued> IssuedCertificates(const CertContext& context, const Paths& paths) {
    std::vector<Issued> all;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(paths.issued, error)) {
        if (entry.path().extension() != ".crt") continue;
        std::string text;
        if (RunOpenssl(context,
                       {"x509", "-noout", "-serial", "-subject", "-enddate", "-nameopt",
                        "sep_multiline,utf8", "-in", entry.path().string()},
                       &text) != 0) {
            continue;
        }
        Issued issued;
        issued.path = entry.path().string();
        for (const auto& line : Lines(text)) {
            if (line.rfind("serial=", 0) == 0) issued.serial = SerialFromOpenssl(line);
            if (line.rfind("notAfter=", 0) == 0) issued.expires = line.substr(9);
            auto cn = line.find("CN=");
            if (cn != std::string::npos) issued.computer = line.substr(cn + 3);
        }
        all.push_back(issued);
    }
    std::sort(all.begin(), all.end(),
              [](const Issued& a, const Issued& b) { return a.computer < b.computer; });
    return all;
}

std::string Expiry(const CertContext& context, const std::string& path) {
    std::string text;
    if (RunOpenssl(context, {"x509", "-noout", "-enddate", "-in", path}, &text) != 0) return "?";
    auto equal = text.find('=');
    text = equal == std::string::npos ? text : text.substr(equal + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

int List(const CertContext& context, const Paths& paths) {
    if (access(paths.caCert.c_str(), R_OK) == 0) {
        context.out << "authority  " << paths.caCert << "  expires "
                    << Expiry(context, paths.caCert) << "\n";
    }
    if (access(paths.serverCert.c_str(), R_OK) == 0) {
        context.out << "server     " << paths.serverCert << "  expires "
                    << Expiry(context, paths.serverCert) << "\n";
    }
    std::string bundle = Join(paths.console, suite::kBundleCertFile);
    if (access(bundle.c_str(), R_OK) == 0) {
        context.out << "installed  " << bundle << "  expires " << Expiry(context, bundle) << "\n";
    }
    auto revoked = RevokedSerials(paths);
    for (const auto& issued : IssuedCertificates(context, paths)) {
        context.out << "console    " << issued.computer << "  serial " << issued.serial
                    << "  expires " << issued.expires
                    << (revoked.count(issued.serial) ? "  REVOKED" : "") << "\n";
    }
    return 0;
}

int Revoke(const CertContext& context, const Paths& paths, const Options& options) {
    if (options.positional.size() != 1) {
        context.err << "orvel-cert: revoke takes a serial number or a computer name\n";
        return 2;
    }
    std::string wanted = options.positional[0];
    const std::string wantedSerial = suite::NormalizeSerial(wanted);
    auto revoked = RevokedSerials(paths);
    std::vector<Issued> matches;
    for (const auto& issued : IssuedCertificates(context, paths)) {
        if ((!wantedSerial.empty() && issued.serial == wantedSerial) || issued.computer == wanted) {
            matches.push_back(issued);
        }
    }
    if (matches.empty()) {
        context.err << "orvel-cert: no issued console certificate has the serial or computer \""
                    << wanted << "\" (see \"orvel-cert list\")\n";
        return 1;
    }
    std::string text = ReadText(paths.revoked);
    if (!text.empty() && text.back() != '\n') text += "\n";
    for (const auto& issued : matches) {
        if (revoked.count(issued.serial)) continue;
        text += issued.serial + "  # " + issued.computer + "\n";
        context.out << "revoked " << issued.serial << " of " << issued.computer << "\n";
    }
    if (!WriteAtomically(paths.revoked, text, 0644)) {
        context.err << "orvel-cert: cannot write " << paths.revoked << "\n";
        return 1;
    }
    context.out << "the suite server refuses it from its next connection on\n";
    return 0;
}

}  // namespace

std::string CertUsage() {
    return "usage: orvel-cert COMMAND [ARGUMENTS]\n"
           "The site authority, the suite server's certificate and the console bundles\n"
           "that let remote consoles reach the suite server over TLS.\n"
           "\n"
           "  init [--name NAME]... [--days N]   create the site authority (once) and the\n"
           "                                     server's key and certificate for this\n"
           "                                     computer's names and addresses, plus NAMEs\n"
           "  renew [--name NAME]... [--days N]  a new server key and certificate\n"
           "  bundle COMPUTER [--days N]         issue a console bundle for COMPUTER\n"
           "  install FOLDER                     install a bundle on this computer\n"
           "  list                               certificates with their expiry dates\n"
           "  revoke SERIAL|COMPUTER             refuse a console's certificate\n"
           "\n"
           "Files live in /var/lib/orvel/tls ($ORVEL_ROOT/tls when ORVEL_ROOT is set).\n";
}

int RunCertTool(const std::vector<std::string>& args, const CertContext& context) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? context.err : context.out) << CertUsage();
        return args.empty() ? 2 : 0;
    }
    const std::string& verb = args[0];
    Options options = ParseOptions(args, 1);
    if (!options.problem.empty()) {
        context.err << "orvel-cert: " << options.problem << "\n" << CertUsage();
        return 2;
    }
    Paths paths = PathsOf(context.tlsFolder);
    if (verb == "init") return Init(context, paths, options);
    if (verb == "renew") {
        if (!HaveAuthority(paths, context)) return 1;
        return IssueServer(context, paths, options) ? 0 : 1;
    }
    if (verb == "bundle") return Bundle(context, paths, options);
    if (verb == "install") return Install(context, paths, options);
    if (verb == "list") return List(context, paths);
    if (verb == "revoke") return Revoke(context, paths, options);
    context.err << "orvel-cert: unknown command \"" << verb << "\"\n" << CertUsage();
    return 2;
}

}  // namespace orvel::tools
