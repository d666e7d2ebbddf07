// glow_connections: the quick path of the Glow decoder for the entries of
// a connection list.
//
// A connection update is most of what a provider sends under load: its
// entries are read by a quick path without building the general TLVs. It
// takes only entries of the plain shape, where it gives what the general
// reading gives; at anything else (an indefinite length, a field not
// wrapped as constructed, a number of the wrong size, nesting near the
// limit) it gives up on the entry, which the general reading then reads
// from its start, so that what is accepted and every error are the same.
//
// Pure; no state. Private to the decoder (emberplus_glow.cpp).
#ifndef QUON_ROUTERS_EMBERPLUS_GLOW_CONNECTIONS_H
#define QUON_ROUTERS_EMBERPLUS_GLOW_CONNECTIONS_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "quon/routers/emberplus/emberplus_glow.h"

namespace quon::routers::glow::quick {

enum class result { connection, none, give_up };

// The entry at `pos` of a SEQUENCE OF's content, `pos` moved past it unless
// the result is `give_up`; a connection read is added to `out`.
result entry(std::string_view list, std::size_t& pos, std::vector<connection>& out);

// How many entries a list holds, as far as they are of the plain shape:
// room to make for them at once.
std::size_t entries(std::string_view list);

}  // namespace quon::routers::glow::quick

#endif
