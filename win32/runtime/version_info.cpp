#include "version_info.h"

#include <fstream>
#include <iterator>

#include "quon/win32/pe_image.h"
#include "runtime.h"

namespace quon::win32 {

namespace {

constexpr uint32_t rt_version = 16;

uint32_t align4(uint32_t value) { return (value + 3) & ~3u; }

uint16_t u16(const std::vector<uint8_t>& b, uint32_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

// One node of the version tree: its key, value and children.
struct node {
    uint32_t start = 0, end = 0;
    std::string key;
    uint32_t value = 0, valueBytes = 0, valueLength = 0;
    bool text = false;
    uint32_t children = 0;
};

bool readNode(const std::vector<uint8_t>& b, uint32_t start, uint32_t limit, node& out) {
    const uint16_t length = u16(b, start);
    if (length < 6 || start + length > limit) return false;
    out.start = start;
    out.end = start + length;
    out.valueLength = u16(b, start + 2);
    out.text = u16(b, start + 4) == 1;
    uint32_t at = start + 6;
    out.key.clear();
    for (; at + 2 <= out.end && u16(b, at) != 0; at += 2) out.key += static_cast<char>(u16(b, at) & 0xFF);
    out.value = align4(at + 2);
    out.valueBytes = out.text ? out.valueLength * 2 : out.valueLength;
    if (out.value + out.valueBytes > out.end) out.valueBytes = out.value < out.end ? out.end - out.value : 0;
    out.children = align4(out.value + out.valueBytes);
    return true;
}

}  // namespace

bool readVersionResource(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const pe::read_result read = pe::readImage(bytes.data(), bytes.size());
    if (!read.value) return false;
    std::string error;
    const auto found = pe::findResource(*read.value, rt_version, error);
    if (!found) return false;
    out.assign(read.value->mapped.begin() + found->first, read.value->mapped.begin() + found->first + found->second);
    return true;
}

uint32_t versionBlockSize(const std::vector<uint8_t>& resource) {
    return align4(static_cast<uint32_t>(resource.size())) * 2;
}

std::vector<uint8_t> versionBlock(const std::vector<uint8_t>& resource) {
    std::vector<uint8_t> block(versionBlockSize(resource));
    std::copy(resource.begin(), resource.end(), block.begin());
    return block;
}

bool queryVersionValue(machine& cpu, uint32_t block, const std::string& path, uint32_t valueOut, uint32_t lengthOut) {
    uint8_t head[2];
    cpu.read(block, head, 2);
    const uint32_t size = static_cast<uint32_t>(head[0] | head[1] << 8);
    std::vector<uint8_t> b(size);
    cpu.read(block, b.data(), b.size());
    node current;
    if (!readNode(b, 0, size, current)) return false;
    size_t at = 0;
    while (at < path.size()) {
        while (at < path.size() && path[at] == '\\') ++at;
        if (at >= path.size()) break;
        const size_t end = std::min(path.find('\\', at), path.size());
        const std::string part = lowerCase(path.substr(at, end - at));
        at = end;
        bool found = false;
        for (uint32_t child = current.children; child < current.end;) {
            node next;
            if (!readNode(b, child, current.end, next)) return false;
            if (lowerCase(next.key) == part) {
                current = next;
                found = true;
                break;
            }
            child = align4(next.end);
        }
        if (!found) return false;
    }
    if (current.valueBytes == 0) return false;
    uint32_t address = block + current.value;
    uint32_t length = current.valueLength;
    if (current.text) {
        // The ANSI copy, in the second half of the block, as version.dll's
        // ANSI functions make it.
        std::string text;
        for (uint32_t i = 0; i + 2 <= current.valueBytes; i += 2) {
            const uint16_t unit = u16(b, current.value + i);
            if (unit == 0) break;
            text += unit < 0x100 ? static_cast<char>(unit) : '?';
        }
        address = block + align4(size) + current.value;
        cpu.writeString(address, text);
        length = static_cast<uint32_t>(text.size() + 1);
    }
    cpu.write32(valueOut, address);
    cpu.write32(lengthOut, length);
    return true;
}

}  // namespace quon::win32
