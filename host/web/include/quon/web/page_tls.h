// The page's TLS identity: its certificate chain and private key, read
// from PEM files and checked to belong together, ready for the web view to
// serve (web_view::serveTls). Loaded apart from the view, so that a reload
// that names files that cannot be used is refused before anything changes.
#ifndef QUON_WEB_PAGE_TLS_H
#define QUON_WEB_PAGE_TLS_H

#include <memory>
#include <string>

namespace boost::asio::ssl {
class context;
}

namespace quon::web {

// Immutable once loaded; shared by the view and each connection opened
// with it, so that renewed files take over for new connections only.
class page_identity {
public:
    ~page_identity();
    page_identity(const page_identity&) = delete;
    page_identity& operator=(const page_identity&) = delete;

    // TLS 1.2 or later, the certificate's chain as the file gives it.
    boost::asio::ssl::context& context() const { return *context_; }
    // The certificate's subject and its expiry (UTC), for the log:
    // "CN=wall.example, until 2027-12-10T00:00:00Z".
    const std::string& summary() const { return summary_; }

private:
    friend std::shared_ptr<const page_identity> loadPageIdentity(const std::string&, const std::string&,
                                                                 std::string&);
    page_identity();
    std::unique_ptr<boost::asio::ssl::context> context_;
    std::string summary_;
};

// Reads `certificateFile` (the server's certificate, then any
// intermediates, PEM) and `keyFile` (its private key, PEM, not encrypted).
// Null with `error` set, naming the file and what is wrong, when either
// cannot be read or the key is not the certificate's.
std::shared_ptr<const page_identity> loadPageIdentity(const std::string& certificateFile, const std::string& keyFile,
                                                      std::string& error);

}  // namespace quon::web

#endif
