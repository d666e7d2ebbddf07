// The PE32 reader on any bytes: it returns an image or an error, never
// both and never neither; what it returns lies inside the image it maps,
// so that a loader may follow it, and moving the image works.
#include <cstdint>

#include "fuzz_check.h"
#include "quon/win32/pe_image.h"

namespace pe = quon::win32::pe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pe::read_result read = pe::readImage(data, size);
    FUZZ_CHECK(read.value.has_value() != !read.error.empty());
    if (!read.value) return 0;
    pe::image& image = *read.value;
    FUZZ_CHECK(image.mapped.size() == image.sizeOfImage && image.sizeOfImage <= pe::max_image_size);
    FUZZ_CHECK(image.entryPoint < image.sizeOfImage);
    for (const uint32_t rva : image.relocations) FUZZ_CHECK(uint64_t{rva} + 4 <= image.sizeOfImage);
    for (const pe::import_library& library : image.imports)
        for (const pe::import_entry& entry : library.entries)
            FUZZ_CHECK(uint64_t{entry.slotRva} + 4 <= image.sizeOfImage);
    for (const pe::export_entry& entry : image.exports.entries)
        FUZZ_CHECK(!entry.forwarder.empty() || entry.rva < image.sizeOfImage);
    for (const uint32_t callback : image.tlsCallbacks) FUZZ_CHECK(callback - image.imageBase < image.sizeOfImage);
    std::string error;
    const auto resource = pe::findResource(image, 16, error);
    if (resource) FUZZ_CHECK(uint64_t{resource->first} + resource->second <= image.sizeOfImage);
    pe::relocate(image.mapped, image.relocations, image.imageBase, 0x00120000);
    return 0;
}
