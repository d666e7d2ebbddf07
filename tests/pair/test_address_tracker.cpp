// address_tracker on netlink messages built by hand, as the kernel lays
// them out: dumps, notifications, and what must not be trusted.
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quon/pair/address_tracker.h"

namespace {

using quon::pair::address_action;
using quon::pair::address_tracker;
namespace ip = boost::asio::ip;

constexpr uint32_t dump_sequence = 1;  // the tracker's first dump

std::string padded(std::string bytes) {
    bytes.resize(NLMSG_ALIGN(bytes.size()), '\0');
    return bytes;
}

std::string attribute(uint16_t type, const std::string& value) {
    rtattr header{};
    header.rta_len = static_cast<uint16_t>(RTA_LENGTH(value.size()));
    header.rta_type = type;
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    return padded(bytes + value);
}

std::string bytesOf(const ip::address& address) {
    if (address.is_v4()) {
        const auto b = address.to_v4().to_bytes();
        return std::string(b.begin(), b.end());
    }
    const auto b = address.to_v6().to_bytes();
    return std::string(b.begin(), b.end());
}

struct address_message {
    std::string address;  // IFA_ADDRESS
    std::string local;    // IFA_LOCAL, when not empty
    std::string label;    // IFA_LABEL, when not empty
    uint32_t index = 2;
    unsigned char family = AF_INET;
};

std::string addressPayload(const address_message& m) {
    ifaddrmsg body{};
    body.ifa_family = m.family;
    body.ifa_prefixlen = m.family == AF_INET ? 24 : 64;
    body.ifa_index = m.index;
    std::string bytes = padded(std::string(reinterpret_cast<const char*>(&body), sizeof body));
    if (!m.address.empty()) bytes += attribute(IFA_ADDRESS, bytesOf(ip::make_address(m.address)));
    if (!m.local.empty()) bytes += attribute(IFA_LOCAL, bytesOf(ip::make_address(m.local)));
    if (!m.label.empty()) bytes += attribute(IFA_LABEL, m.label + '\0');
    return bytes;
}

std::string message(uint16_t type, const std::string& payload, uint32_t sequence = 0, uint16_t flags = 0) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(payload.size()));
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = sequence;
    return padded(std::string(reinterpret_cast<const char*>(&header), sizeof header) + payload);
}

std::string v4(const std::string& address, const std::string& label, uint32_t index = 2) {
    return addressPayload({address, address, label, index, AF_INET});
}

std::string added(const std::string& payload) { return message(RTM_NEWADDR, payload); }
std::string removed(const std::string& payload) { return message(RTM_DELADDR, payload); }
std::string listed(const std::string& payload, uint32_t sequence = dump_sequence) {
    return message(RTM_NEWADDR, payload, sequence, NLM_F_MULTI);
}
std::string done(uint32_t sequence = dump_sequence, int result = 0) {
    return message(NLMSG_DONE, std::string(reinterpret_cast<const char*>(&result), sizeof result), sequence,
                   NLM_F_MULTI);
}
std::string error(int code, uint32_t sequence = dump_sequence) {
    nlmsgerr body{};
    body.error = code;
    body.msg.nlmsg_seq = sequence;
    return message(NLMSG_ERROR, std::string(reinterpret_cast<const char*>(&body), sizeof body), sequence);
}

std::vector<address_action> feed(address_tracker& tracker, const std::string& datagram) {
    return tracker.received(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size());
}

// What the actions say, one word (and the text) each: easy to compare.
std::vector<std::string> said(const std::vector<address_action>& actions) {
    std::vector<std::string> lines;
    for (const address_action& a : actions) {
        switch (a.what) {
        case address_action::kind::send: lines.push_back("send"); break;
        case address_action::kind::assigned: lines.push_back(std::string(a.first ? "first " : "") + "assigned: " + a.text); break;
        case address_action::kind::unassigned: lines.push_back(std::string(a.first ? "first " : "") + "unassigned: " + a.text); break;
        case address_action::kind::problem: lines.push_back("problem: " + a.text); break;
        case address_action::kind::dump_later: lines.push_back("dump later"); break;
        }
    }
    return lines;
}

using lines = std::vector<std::string>;

TEST(AddressTracker, StartAsksForADumpOfTheWantedFamily) {
    for (const char* wanted : {"192.0.2.50", "2001:db8::50"}) {
        address_tracker tracker(ip::make_address(wanted));
        const auto actions = tracker.start();
        ASSERT_EQ(actions.size(), 1u);
        ASSERT_EQ(actions[0].what, address_action::kind::send);
        const std::string& bytes = actions[0].bytes;
        ASSERT_EQ(bytes.size(), NLMSG_LENGTH(sizeof(ifaddrmsg)));
        nlmsghdr header;
        std::memcpy(&header, bytes.data(), sizeof header);
        EXPECT_EQ(header.nlmsg_len, bytes.size());
        EXPECT_EQ(header.nlmsg_type, RTM_GETADDR);
        EXPECT_EQ(header.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);
        EXPECT_EQ(header.nlmsg_seq, dump_sequence);
        ifaddrmsg body;
        std::memcpy(&body, bytes.data() + NLMSG_HDRLEN, sizeof body);
        EXPECT_EQ(body.ifa_family, ip::make_address(wanted).is_v4() ? AF_INET : AF_INET6) << wanted;
        EXPECT_FALSE(tracker.known());
    }
}

struct dump_case {
    const char* name;
    const char* wanted;
    std::vector<std::string> datagrams;  // after start()
    lines expected;                      // said by the last datagram
    bool assigned;
};

class AddressTrackerDump : public testing::TestWithParam<dump_case> {};

TEST_P(AddressTrackerDump, DecidesWhenTheDumpEnds) {
    const dump_case& c = GetParam();
    address_tracker tracker(ip::make_address(c.wanted), [](uint32_t index) { return "if" + std::to_string(index); });
    tracker.start();
    for (size_t i = 0; i + 1 < c.datagrams.size(); ++i) {
        EXPECT_EQ(said(feed(tracker, c.datagrams[i])), lines{}) << "datagram " << i;
        EXPECT_FALSE(tracker.known());
    }
    EXPECT_EQ(said(feed(tracker, c.datagrams.back())), c.expected);
    EXPECT_TRUE(tracker.known());
    EXPECT_EQ(tracker.assigned(), c.assigned);
}

INSTANTIATE_TEST_SUITE_P(
    Dumps, AddressTrackerDump,
    testing::Values(
        dump_case{"AssignedOnOneInterface", "192.0.2.50",
                  {listed(v4("127.0.0.1", "lo", 1)) + listed(v4("192.0.2.50", "veth-a")) + done()},
                  {"first assigned: 192.0.2.50 is on veth-a"}, true},
        dump_case{"UnderALabelOfItsOwn", "192.0.2.50",
                  {listed(v4("192.0.2.50", "veth-a:vip")) + done()},
                  {"first assigned: 192.0.2.50 is on veth-a:vip"}, true},
        dump_case{"NotAssigned", "192.0.2.50",
                  {listed(v4("127.0.0.1", "lo", 1)) + listed(v4("192.0.2.51", "veth-a")) + done()},
                  {"first unassigned: 192.0.2.50 is not assigned here"}, false},
        dump_case{"InSeveralParts", "192.0.2.50",
                  {listed(v4("127.0.0.1", "lo", 1)), listed(v4("192.0.2.50", "veth-a", 7)) + listed(v4("10.0.0.1", "eth0", 3)),
                   done()},
                  {"first assigned: 192.0.2.50 is on veth-a"}, true},
        dump_case{"APeerAddressIsNotOurs", "192.0.2.50",
                  // Point-to-point: IFA_ADDRESS is the far end, IFA_LOCAL ours.
                  {listed(addressPayload({"192.0.2.50", "192.0.2.49", "ppp0", 4, AF_INET})) + done()},
                  {"first unassigned: 192.0.2.50 is not assigned here"}, false},
        dump_case{"OtherFamilyWithTheSameBytes", "::c000:232",
                  {listed(v4("192.0.2.50", "veth-a")) + done()},
                  {"first unassigned: ::192.0.2.50 is not assigned here"}, false},
        dump_case{"IPv6WithoutLabelNamedByIndex", "2001:db8::50",
                  {listed(addressPayload({"2001:db8::50", "", "", 5, AF_INET6})) + done()},
                  {"first assigned: 2001:db8::50 is on if5"}, true},
        dump_case{"TheEndOfAnotherDumpIsNotOurs", "192.0.2.50",
                  {listed(v4("192.0.2.50", "veth-a")) + done(99), done()},
                  {"first assigned: 192.0.2.50 is on veth-a"}, true}),
    [](const testing::TestParamInfo<dump_case>& info) { return info.param.name; });

struct change_case {
    const char* name;
    bool assignedBefore;  // on veth-a (index 2) after the first dump
    std::string datagram;
    lines expected;
    bool assigned;
};

class AddressTrackerChange : public testing::TestWithParam<change_case> {};

TEST_P(AddressTrackerChange, FollowsTheKernel) {
    const change_case& c = GetParam();
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    feed(tracker, (c.assignedBefore ? listed(v4("192.0.2.50", "veth-a")) : std::string()) + done());
    EXPECT_EQ(said(feed(tracker, c.datagram)), c.expected);
    EXPECT_EQ(tracker.assigned(), c.assigned);
}

INSTANTIATE_TEST_SUITE_P(
    Notifications, AddressTrackerChange,
    testing::Values(
        change_case{"AddedMakesItAssigned", false, added(v4("192.0.2.50", "veth-a")),
                    {"assigned: 192.0.2.50 added on veth-a"}, true},
        change_case{"RemovedMakesItUnassigned", true, removed(v4("192.0.2.50", "veth-a")),
                    {"unassigned: 192.0.2.50 removed from veth-a"}, false},
        change_case{"AddedAgainChangesNothing", true, added(v4("192.0.2.50", "veth-a")), {}, true},
        change_case{"AddedOnASecondInterfaceChangesNothing", true, added(v4("192.0.2.50", "veth-b", 3)), {}, true},
        change_case{"RemovedFromOneOfTwoChangesNothing", true,
                    added(v4("192.0.2.50", "veth-b", 3)) + removed(v4("192.0.2.50", "veth-b", 3)), {}, true},
        change_case{"RemovedFromBothIsUnassigned", true,
                    added(v4("192.0.2.50", "veth-b", 3)) + removed(v4("192.0.2.50", "veth-a")) +
                        removed(v4("192.0.2.50", "veth-b", 3)),
                    {"unassigned: 192.0.2.50 removed from veth-b"}, false},
        change_case{"AnotherAddressIsIgnored", false, added(v4("192.0.2.51", "veth-a")), {}, false},
        change_case{"AnotherAddressRemovedIsIgnored", true, removed(v4("192.0.2.51", "veth-a")), {}, true},
        change_case{"AnotherFamilyIsIgnored", false, added(addressPayload({"2001:db8::50", "", "", 2, AF_INET6})), {},
                    false},
        change_case{"RemovedThenAddedInOneDatagram", true,
                    removed(v4("192.0.2.50", "veth-a")) + added(v4("192.0.2.50", "veth-b", 3)),
                    {"unassigned: 192.0.2.50 removed from veth-a", "assigned: 192.0.2.50 added on veth-b"}, true},
        change_case{"OtherMessagesAreIgnored", false,
                    message(RTM_NEWLINK, std::string(16, '\0')) + message(NLMSG_NOOP, "") + error(0, 0), {}, false},
        change_case{"AnErrorAboutSomethingElseIsIgnored", false, error(-EINVAL, 42), {}, false}),
    [](const testing::TestParamInfo<change_case>& info) { return info.param.name; });

struct garbage_case {
    const char* name;
    std::string datagram;
    std::string problem;
};

class AddressTrackerGarbage : public testing::TestWithParam<garbage_case> {};

// What cannot be read is told and the state read again; what came before it
// in the datagram counts.
TEST_P(AddressTrackerGarbage, IsToldAndTheStateReadAgain) {
    const garbage_case& c = GetParam();
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    feed(tracker, done());
    EXPECT_EQ(said(feed(tracker, added(v4("192.0.2.50", "veth-a")) + c.datagram)),
              (lines{"assigned: 192.0.2.50 added on veth-a", "problem: " + c.problem, "send"}));
    // The new dump says it is gone after all.
    EXPECT_EQ(said(feed(tracker, done(2))),
              lines{"unassigned: 192.0.2.50 is not assigned here, read again after the kernel dropped messages"});
}

std::string withLength(std::string bytes, uint32_t length) {
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes;
}

std::string badAttribute() {
    std::string payload = v4("192.0.2.50", "veth-a");
    const uint16_t huge = 200;
    std::memcpy(payload.data() + NLMSG_ALIGN(sizeof(ifaddrmsg)), &huge, sizeof huge);
    return message(RTM_NEWADDR, payload);
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, AddressTrackerGarbage,
    testing::Values(
        garbage_case{"ShortHeader", std::string(7, '\x01'), "netlink: 7 bytes left over after the last message"},
        garbage_case{"LengthBeyondTheDatagram", withLength(added(v4("192.0.2.60", "x")), 4000),
                     "netlink: a message says it has 4000 bytes where 48 remain"},
        garbage_case{"LengthBelowTheHeader", withLength(added(v4("192.0.2.60", "x")), 3),
                     "netlink: a message says it has 3 bytes where 48 remain"},
        garbage_case{"AddressMessageTooShort", message(RTM_NEWADDR, "abc"), "netlink: an address message of 3 bytes"},
        garbage_case{"AttributeBeyondTheMessage", badAttribute(),
                     "netlink: an address attribute says it has 200 bytes where 28 remain"},
        garbage_case{"ErrorTooShort", message(NLMSG_ERROR, "ab"), "netlink: an error message of 2 bytes"}),
    [](const testing::TestParamInfo<garbage_case>& info) { return info.param.name; });

TEST(AddressTracker, NotificationsBeforeTheFirstDumpEndsTellNothingAndCount) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    EXPECT_EQ(said(feed(tracker, listed(v4("192.0.2.50", "veth-a")))), lines{});
    // Removed after the dump listed it: the end of the dump knows.
    EXPECT_EQ(said(feed(tracker, removed(v4("192.0.2.50", "veth-a")))), lines{});
    EXPECT_EQ(said(feed(tracker, done())), lines{"first unassigned: 192.0.2.50 is not assigned here"});
}

TEST(AddressTracker, ARefusedDumpIsAskedForAgainLater) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    EXPECT_EQ(said(feed(tracker, error(-EBUSY))),
              (lines{"problem: netlink: the kernel refused the address dump: " + std::string(std::strerror(EBUSY)),
                     "dump later"}));
    EXPECT_FALSE(tracker.known());
    EXPECT_EQ(said(tracker.dumpAgain()), lines{"send"});
    EXPECT_EQ(said(feed(tracker, listed(v4("192.0.2.50", "veth-a"), 2) + done(2))),
              lines{"first assigned: 192.0.2.50 is on veth-a"});
}

TEST(AddressTracker, ADumpThatEndsInAnErrorIsAskedForAgainLater) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    EXPECT_EQ(said(feed(tracker, done(dump_sequence, -EINTR))),
              (lines{"problem: netlink: the address dump failed: " + std::string(std::strerror(EINTR)), "dump later"}));
    EXPECT_EQ(said(tracker.dumpAgain()), lines{"send"});
}

TEST(AddressTracker, AnOverrunReadsTheStateAgainAndTellsOnlyAChange) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    feed(tracker, listed(v4("192.0.2.50", "veth-a")) + done());
    // The removal was among the messages lost.
    EXPECT_EQ(said(tracker.overrun()), lines{"send"});
    EXPECT_EQ(said(feed(tracker, done(2))),
              lines{"unassigned: 192.0.2.50 is not assigned here, read again after the kernel dropped messages"});
    // Lost again, nothing changed: nothing to tell.
    EXPECT_EQ(said(tracker.overrun()), lines{"send"});
    EXPECT_EQ(said(feed(tracker, done(3))), lines{});
    EXPECT_FALSE(tracker.assigned());
}

TEST(AddressTracker, AnOverrunDuringADumpDumpsAgainOnceItEnds) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    EXPECT_EQ(said(tracker.overrun()), lines{});
    EXPECT_EQ(said(feed(tracker, listed(v4("192.0.2.50", "veth-a")) + done())),
              (lines{"first assigned: 192.0.2.50 is on veth-a", "send"}));
    EXPECT_EQ(said(feed(tracker, done(2))),
              lines{"unassigned: 192.0.2.50 is not assigned here, read again after the kernel dropped messages"});
}

TEST(AddressTracker, TheKernelsOverrunMessageReadsTheStateAgain) {
    address_tracker tracker(ip::make_address("192.0.2.50"));
    tracker.start();
    feed(tracker, done());
    EXPECT_EQ(said(feed(tracker, message(NLMSG_OVERRUN, ""))), lines{"send"});
    EXPECT_EQ(said(feed(tracker, listed(v4("192.0.2.50", "veth-a"), 2) + done(2))),
              lines{"assigned: 192.0.2.50 is on veth-a, read again after the kernel dropped messages"});
}

TEST(AddressTracker, ARemovalWithoutLabelIsNamedAsTheAddition) {
    address_tracker tracker(ip::make_address("2001:db8::50"));
    tracker.start();
    feed(tracker, done());
    // IPv6 messages carry no label and no name is known: the index names it.
    EXPECT_EQ(said(feed(tracker, added(addressPayload({"2001:db8::50", "", "", 9, AF_INET6})))),
              lines{"assigned: 2001:db8::50 added on interface 9"});
    EXPECT_EQ(said(feed(tracker, removed(addressPayload({"2001:db8::50", "", "", 9, AF_INET6})))),
              lines{"unassigned: 2001:db8::50 removed from interface 9"});
}

}  // namespace
