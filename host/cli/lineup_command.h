// quon-host lineup: a line-up on a running host (every lamp lit, or each
// display's own name shown, for a while), sent to its page's control API
// as the page itself sends it (docs/tally.md, "Line-up").
//
// Threading: the caller's; it blocks until the host answered, or 10 s.
#ifndef QUON_CLI_LINEUP_COMMAND_H
#define QUON_CLI_LINEUP_COMMAND_H

#include <string>
#include <vector>

namespace quon {

struct lineup_command {
    std::string page;       // "http://127.0.0.1:8080" or "https://wall.example:8443"
    std::string tokenFile;  // the control token's file; empty: $QUON_CONTROL_TOKEN
    std::string caFile;     // HTTPS: the certificates to trust beside the system's
    std::vector<std::string> words;  // MODE DURATION [DISPLAY...], or off
};

// 0 when the host took it; 1 when it refused it (its answer printed); 2
// for bad usage, no token, or a page that cannot be reached.
int runLineup(const lineup_command& command);

}  // namespace quon

#endif
