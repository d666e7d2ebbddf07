#include "wall_page.h"

#include <cstdio>

#include "quon/web/http_address.h"

namespace quon {

bool wall_page::open(boost::asio::io_context& loop, const std::string& text) {
    web::web_settings settings;
    std::string error;
    if (!web::parseHttpAddress(text, settings.address, settings.port, error)) {
        std::fprintf(stderr, "quon-host: --http %s: %s\n", text.c_str(), error.c_str());
        return false;
    }
    view_ = std::make_unique<web::web_view>(loop, settings);
    if (!view_->start(error)) {
        std::fprintf(stderr, "quon-host: --http %s: %s\n", text.c_str(), error.c_str());
        return false;
    }
    const bool v6 = settings.address.find(':') != std::string::npos;
    url_ = "http://" + (v6 ? "[" + settings.address + "]" : settings.address) + ":" + std::to_string(view_->port()) + "/";
    if (!web::isLoopbackAddress(settings.address))
        std::fprintf(stderr, "quon-host: warning: the wall page at %s is visible on the network\n", url_.c_str());
    std::fprintf(stderr, "quon-host: the wall is at %s\n", url_.c_str());
    return true;
}

void wall_page::show(host_engine& engine, const umd_config& tallies) {
    hide();
    if (!view_) return;
    engine_ = &engine;
    listener_ = std::make_unique<web_listener>(engine, *view_, tallies);
    engine.addListener(listener_.get());
    listener_->showRouters();
    for (const std::string& name : engine.components()) listener_->componentCreated(name);
}

void wall_page::hide() {
    if (engine_ && listener_) engine_->removeListener(listener_.get());
    listener_.reset();
    engine_ = nullptr;
}

void wall_page::event(const std::string& text) {
    if (view_) view_->event(text);
}

}  // namespace quon
