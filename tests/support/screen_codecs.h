// The codec a receiver of `protocol` uses under the given settings, made as
// the output makes it and kept for the whole test program, for the tests
// that drive a display_queue without an output.
#ifndef QUON_TEST_SCREEN_CODECS_H
#define QUON_TEST_SCREEN_CODECS_H

#include <memory>
#include <vector>

#include "quon/screens/screen_protocol.h"
#include "quon/screens/tsl31/tsl31_protocol.h"
#include "quon/screens/tsl5/tsl5_protocol.h"

inline const quon::screen_codec& codecFor(const quon::screen_protocol* protocol, bool batch,
                                          const quon::tsl31_tally_map& tally31) {
    static std::vector<std::unique_ptr<quon::screen_codec>> made;
    quon::umd_config config;
    config.batch = batch;
    config.tally31 = tally31;
    made.push_back(protocol->makeCodec(config));
    return *made.back();
}

#endif
