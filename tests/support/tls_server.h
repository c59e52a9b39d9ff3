#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/temporary_cluster.h"
#include "db/profile.h"

namespace trp::test {

// A certificate authority of a test's own, made with the `openssl` command in a temporary folder
// that goes with the object. Keys are P-256 and certificates last two days.
class CertificateAuthority {
public:
    struct Issued {
        std::string certificate;  // PEM file
        std::string key;          // PEM file, mode 0600
    };

    // A self-signed authority; throws std::runtime_error with openssl's output when that fails.
    explicit CertificateAuthority(const std::string& name);
    CertificateAuthority(const CertificateAuthority&) = delete;
    CertificateAuthority& operator=(const CertificateAuthority&) = delete;

    // The authority's own certificate: what a client trusts as its root certificate.
    const std::string& CertificateFile() const { return certificate_; }
    // A certificate signed by this authority for `common_name` (a client certificate names its
    // login role there), with `ip_address` as its subject alternative name when given (a server
    // certificate, which verify-full checks against the host). Files "<stem>.crt" and
    // "<stem>.key" in the authority's folder.
    Issued Issue(const std::string& stem, const std::string& common_name,
                 const std::string& ip_address = {});

private:
    std::string PathOf(const std::string& file) const;

    QTemporaryDir folder_;
    std::string certificate_;
    std::string key_;
    int next_serial_ = 2;
};

// A throwaway server (a TemporaryCluster) that takes TCP logins over TLS only: pg_hba.conf holds
// only `hostssl` lines besides the superuser's socket line. Its certificate, for 127.0.0.1, is
// signed by Authority(), which also vouches for client certificates. Two login roles:
//  - kTestUser with TestPassword() (SCRAM, as on the shared test server);
//  - kCertificateUser, which logs in with a client certificate of Authority() for its name and
//    no password (the `cert` method).
// A client that asks for no encryption is refused ("no pg_hba.conf entry ... no encryption").
class TlsOnlyServer {
public:
    static constexpr const char* kCertificateUser = "porter_by_certificate";

    // Makes the authority and starts the server; throws std::runtime_error with the tools' output.
    TlsOnlyServer();

    TemporaryCluster& Server() { return *cluster_; }
    CertificateAuthority& Authority() { return authority_; }

    // Creates (or re-creates) a database owned by kTestUser.
    void CreateDatabase(const std::string& name) const;
    // Runs SQL on a database as kTestUser, through the socket (no TLS involved).
    void ExecAsUser(const std::string& database, const std::string& sql) const;
    // Profiles for a database over TCP: kTestUser with its password, and kCertificateUser
    // without one.
    Profile UserProfile(const std::string& database) const;
    Profile CertificateProfile(const std::string& database) const;

private:
    CertificateAuthority authority_;
    std::unique_ptr<TemporaryCluster> cluster_;
};

}  // namespace trp::test
