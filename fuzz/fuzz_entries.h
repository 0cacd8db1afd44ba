// The fuzz targets' entry points. Each takes one input and returns 0; a broken property aborts.
// libFuzzer calls them from LLVMFuzzerTestOneInput (fuzz build only); tests/test_fuzz_corpus.cpp
// replays the seed corpus through the very same functions in the ordinary build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrion::fuzz {

// Framing and acceptance without Qt: a reply stream cut into input-chosen chunks, assembled as
// the receivers assemble it.
int protocol_one(const std::uint8_t* data, std::size_t size);

// The settings file and resolution list readers, and the settings write/read round trip.
int files_one(const std::uint8_t* data, std::size_t size);

// The simulator's line framer and command handler.
int sim_parser_one(const std::uint8_t* data, std::size_t size);

// The main window's receivers on both links, with and without a transaction waiting. Needs a
// QApplication; receivers_init() prepares what all inputs share (the program folder).
void receivers_init();
int receivers_one(const std::uint8_t* data, std::size_t size);

// The hub's HTTP request path (HttpFront on a socket pair); needs a QCoreApplication.
int http_one(const std::uint8_t* data, std::size_t size);

} // namespace tavrion::fuzz
