// The page's files, compiled into the program from host/web/assets/ (see
// embed_assets.cmake), so that the page needs nothing from anywhere else.
#ifndef QUON_WEB_WEB_ASSETS_H
#define QUON_WEB_WEB_ASSETS_H

#include <cstddef>
#include <string>

namespace quon::web {

struct web_asset {
    const char* path;  // "/index.html"
    const char* contentType;
    const unsigned char* data;  // static storage
    std::size_t size;
};

// Null when no file has that path.
const web_asset* findWebAsset(const std::string& path);

}  // namespace quon::web

#endif
