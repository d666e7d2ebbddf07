#include "quon/tcp/ca_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace quon::tcp {

std::string loadCaFile(X509_STORE* store, const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return "is a folder";
    // OpenSSL's own words for a file it cannot open name no system error.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::string("cannot be read: ") + std::strerror(errno);
    std::fclose(file);
    ERR_clear_error();
    if (X509_STORE_load_file(store, path.c_str()) == 1) return {};
    // The first error is the one nearest the cause; those after it only
    // say which call gave up.
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    const char* reason = ERR_reason_error_string(error);
    return std::string("does not load: ") + (reason ? reason : "no certificate found");
}

std::string caFileProblem(const std::string& path) {
    const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
    if (!store) return "does not load: out of memory";
    return loadCaFile(store.get(), path);
}

}  // namespace quon::tcp
