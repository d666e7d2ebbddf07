// What the web view shows of one display and of one router link: plain
// values, copied in by the caller on every change.
#ifndef QUON_WEB_WALL_STATE_H
#define QUON_WEB_WALL_STATE_H

#include <string>
#include <vector>

namespace quon::web {

// One under-monitor display of the wall.
struct display_state {
    std::string name;        // the component's name; identifies the display
    std::string text;        // `text` of panel control myMimic
    std::string statesheet;  // `statesheet` of myMimic; empty when none
    // Tally lamps: "off", "red", "green" or "amber".
    std::string left = "off";
    std::string centre = "off";
    std::string right = "off";
    int brightness = 100;       // percent
    std::string notified;       // the last notification to the parent panel, e.g. "sourceid=5"
    int router = 0;             // device number of the router the display watches; 0 when none
    bool routerSilent = false;  // the router does not answer
    int destination = 0;        // the destination it watches on that router (the first, of a range); 0 when none
    int tslIndex = -1;          // its TSL display index (TSL 3.1: address); -1 when it is not sent
    // What its screen shows of its router's loss ([umd] on_router_lost):
    // "mark", "blank" or "text"; empty while it shows the name as it is.
    std::string marked;
    // Why its router cannot show it what it watches ("watches router 3,
    // which this system does not have"); empty when it can.
    std::string watchProblem;
    // Its tally (docs/tally.md): "program" (on air), "hot", "preview" or ""
    // (off), and whether it is on an ISO bus; while lit, the winning input
    // and index and the way from them to the display, through routes, tie
    // lines and the mixers' cascade.
    std::string tally;
    bool iso = false;
    std::string tallyInput;
    int tallyIndex = 0;
    std::string tallyWhy;
};

// One router link.
struct link_state {
    int device = 0;  // device number; identifies the link
    std::string name;
    std::string protocol;
    std::string state;   // routerStateName's words: "connecting", "connected", "lost", "answers", "does not answer"
    int size = 0;        // number of destinations
    std::string detail;  // why it is lost, when the next try is due
    std::vector<std::string> missing;  // up without these parts of the router's state
    bool up = false;                   // routerUp(state): what /healthz counts as up
};

// One tally input (a vision mixer's tally, docs/tally.md): down until its
// first packet and after `timeout` without one, and while it cannot listen.
struct tally_input_state {
    std::string name;
    std::string listen;  // as bound: "tsl5+udp://127.0.0.1:8910"
    bool up = false;
    std::string problem;     // why it does not listen; empty while it does
    std::string lastPacket;  // UTC to the millisecond; empty before the first
    unsigned long long packets = 0;     // datagrams or packets read
    unsigned long long unmapped = 0;    // messages lighting an index no map names
    unsigned long long unreadable = 0;  // datagrams or packets that were not TSL
    unsigned long long changes = 0;     // changes of a mapped index's tally it reported
};

// One TSL receiver (a screen or a multiviewer) the displays are sent to.
struct receiver_state {
    std::string to;      // as in the wall file: "tsl5+udp://10.0.0.9:8900"
    std::string state;   // umdReceiverStateName's words (docs/umd.md, "Receiver states")
    std::string detail;  // why, when the next try is due
    std::string lastSent;  // UTC, "2026-12-08T15:04:05Z"; empty when nothing was sent
    unsigned long long packets = 0;
    unsigned long long errors = 0;
    bool down = false;  // failed (refused, unresolved, lost) and not up since

    bool operator==(const receiver_state& other) const {
        return to == other.to && state == other.state && detail == other.detail && lastSent == other.lastSent &&
               packets == other.packets && errors == other.errors && down == other.down;
    }
    bool operator!=(const receiver_state& other) const { return !(*this == other); }
};

}  // namespace quon::web

#endif
