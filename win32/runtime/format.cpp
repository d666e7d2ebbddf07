#include "format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quon::win32 {

std::string formatText(const machine& cpu, uint32_t formatAddress, uint32_t arguments) {
    const std::string format = cpu.readString(formatAddress);
    std::string out;
    uint32_t next = arguments;
    auto take = [&]() {
        const uint32_t value = cpu.read32(next);
        next += 4;
        return value;
    };
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        // %[flags][width][.precision][size]type
        std::string directive = "%";
        size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0", format[j])) directive += format[j++];
        auto number = [&]() {
            if (j < format.size() && format[j] == '*') {
                ++j;
                directive += std::to_string(static_cast<int32_t>(take()));
                return;
            }
            while (j < format.size() && format[j] >= '0' && format[j] <= '9') directive += format[j++];
        };
        number();
        int precision = -1;
        if (j < format.size() && format[j] == '.') {
            directive += format[j++];
            const size_t start = directive.size();
            number();
            precision = directive.size() > start ? std::atoi(directive.c_str() + start) : 0;
        }
        bool wide64 = false;
        if (format.compare(j, 3, "I64") == 0) {
            wide64 = true;
            j += 3;
        } else if (format.compare(j, 2, "ll") == 0) {
            wide64 = true;
            j += 2;
        } else if (j < format.size() && std::strchr("hlLwI", format[j])) {
            if (format[j] == 'w') throw machine_fault("printf: wide conversions (%w) are not emulated");
            if (format[j] == 'I' && format.compare(j, 3, "I32") == 0) j += 2;
            ++j;
        }
        if (j >= format.size()) {
            out += directive;
            break;
        }
        const char type = format[j];
        i = j;
        char piece[512];
        switch (type) {
            case '%': out += '%'; break;
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                const uint64_t low = take();
                const uint64_t value = wide64 ? (low | uint64_t{take()} << 32) : low;
                const std::string conversion = directive + "ll" + type;
                if (type == 'd' || type == 'i') {
                    const long long signedValue =
                        wide64 ? static_cast<long long>(value) : static_cast<int32_t>(static_cast<uint32_t>(value));
                    std::snprintf(piece, sizeof piece, conversion.c_str(), signedValue);
                } else {
                    std::snprintf(piece, sizeof piece, conversion.c_str(), static_cast<unsigned long long>(value));
                }
                out += piece;
                break;
            }
            case 'c': {
                std::snprintf(piece, sizeof piece, (directive + 'c').c_str(), static_cast<char>(take()));
                out += piece;
                break;
            }
            case 'p': {
                std::snprintf(piece, sizeof piece, "%08X", take());
                out += piece;
                break;
            }
            case 's': {
                const uint32_t address = take();
                std::string text = address ? cpu.readString(address) : "(null)";
                if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(precision);
                const std::string conversion = directive + 's';
                const int length = std::snprintf(nullptr, 0, conversion.c_str(), text.c_str());
                std::string formatted(static_cast<size_t>(length) + 1, '\0');
                std::snprintf(formatted.data(), formatted.size(), conversion.c_str(), text.c_str());
                formatted.resize(static_cast<size_t>(length));
                out += formatted;
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G': {
                uint64_t bits = take();
                bits |= uint64_t{take()} << 32;
                double value;
                std::memcpy(&value, &bits, sizeof value);
                std::snprintf(piece, sizeof piece, (directive + type).c_str(), value);
                out += piece;
                break;
            }
            default:
                throw machine_fault(std::string("printf: the conversion %") + type + " is not emulated");
        }
    }
    return out;
}

int32_t storeTruncated(machine& cpu, uint32_t buffer, uint32_t count, const std::string& text) {
    if (text.size() < count) {
        cpu.writeString(buffer, text);
        return static_cast<int32_t>(text.size());
    }
    cpu.write(buffer, text.data(), count);
    return text.size() == count ? static_cast<int32_t>(count) : -1;
}

}  // namespace quon::win32
