// ca_file: the certificates a TLS peer's must chain to, from a PEM file:
// loaded by the carrier at each connection over TLS, and tried by the
// device-file reader when the system is loaded, so that a file that
// cannot serve is an error there and then, not a router that never comes
// up.
#ifndef QUON_TCP_CA_FILE_H
#define QUON_TCP_CA_FILE_H

#include <string>

// OpenSSL's X509_STORE, declared as its headers do.
struct x509_store_st;

namespace quon::tcp {

// Adds the certificates of the PEM file at `path` to `store`. Empty when
// they were; else what is wrong, after the path: "cannot be read: No such
// file or directory", "is a folder", "does not load: no certificate or crl
// found" (OpenSSL's reason).
std::string loadCaFile(x509_store_st* store, const std::string& path);

// What loadCaFile() would say of `path`, into a store of its own.
std::string caFileProblem(const std::string& path);

}  // namespace quon::tcp

#endif
