// C++ exceptions as 32-bit Windows runs them, from Microsoft's published
// description of the scheme. A throw raises exception 0xE06D7363 with the
// object and its ThrowInfo; the dispatcher offers it to each handler on the
// thread's SEH chain (fs:[0]). The compiler's frame handler thunk of a
// function loads the function's FuncInfo into EAX and jumps to
// __CxxFrameHandler3, which finds a try block around the frame's state and a
// catch whose type is among the thrown object's catchable types; then it
// unwinds the frames above (their handlers called again, unwinding), runs
// the unwind map's actions of its own frame down to the try block, calls
// the catch block and continues where the catch block's return says, with
// the stack pointer the frame saved below its registration node. Funclets
// (unwind actions and catch blocks) run with EBP at the registration node
// plus 12, as the compiler expects.
#include <cstdio>

#include "runtime.h"

namespace quon::win32 {

namespace {

constexpr uint32_t cxx_exception = 0xE06D7363;
constexpr uint32_t cxx_magic = 0x19930520;
constexpr uint32_t noncontinuable = 1;
constexpr uint32_t unwinding = 2 | 4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr uint32_t chain_end = 0xFFFFFFFF;
constexpr uint32_t continue_search = 1;
constexpr uint32_t context_size = 0x2CC;

// HandlerType adjectives and CatchableType properties.
constexpr uint32_t handler_const = 1;
constexpr uint32_t handler_reference = 8;
constexpr uint32_t handler_all = 0x40;
constexpr uint32_t type_by_reference_only = 2;
constexpr uint32_t type_has_virtual_base = 4;

std::string typeName(const machine& cpu, uint32_t descriptor) {
    return descriptor ? cpu.readString(descriptor + 8, 4096) : std::string();
}

}  // namespace

void process::runtime::throwException(native_call& call) {
    uint32_t object = call.arg(0);
    uint32_t info = call.arg(1);
    if (!object && !info) {
        // "throw;": the exception whose catch block runs now, again.
        if (caught_.empty()) throw machine_fault("throw; with no exception being handled");
        object = caught_.back().first;
        info = caught_.back().second;
    }
    if (!info) throw machine_fault("_CxxThrowException without a ThrowInfo");
    // The record and a context below the thrower's frame, as the system's
    // dispatcher places them; handlers run below both.
    const uint32_t from = call.returnAddress();
    const uint32_t record = (call.stackPointer() - 0x400) & ~15u;
    const uint32_t context = record + 0x60;
    std::vector<uint8_t> zero(0x60 + context_size);
    cpu_.write(record, zero.data(), zero.size());
    cpu_.write32(record + 0, cxx_exception);
    cpu_.write32(record + 4, noncontinuable);
    cpu_.write32(record + 12, from);
    cpu_.write32(record + 16, 3);
    cpu_.write32(record + 20, cxx_magic);
    cpu_.write32(record + 24, object);
    cpu_.write32(record + 28, info);
    cpu_.write32(context + 0xB4, cpu_.get(reg::ebp));
    cpu_.write32(context + 0xB8, from);
    cpu_.write32(context + 0xC4, call.stackPointer());
    cpu_.set(reg::esp, record - 16);

    const uint32_t stackLow = cpu_.read32(cpu_.threadBlock() + 8), stackHigh = cpu_.read32(cpu_.threadBlock() + 4);
    for (uint32_t node = cpu_.read32(cpu_.threadBlock()); node != chain_end; node = cpu_.read32(node)) {
        if (node < stackLow || node + 12 > stackHigh || (node & 3))
            throw machine_fault("the exception handler chain is broken at " + cpu_.describe(node));
        const uint32_t handler = cpu_.read32(node + 4);
        const uint32_t disposition = cpu_.call(handler, {record, node, context, 0});
        if (disposition != continue_search)
            throw machine_fault("the exception handler at " + cpu_.describe(handler) + " asked to continue (" +
                                std::to_string(disposition) + ") after a C++ exception, which cannot continue");
    }
    std::string type = "(unknown)";
    const uint32_t types = cpu_.read32(info + 12);
    if (types && cpu_.read32(types) > 0) type = typeName(cpu_, cpu_.read32(cpu_.read32(types + 4) + 4));
    // Nothing caught it: the run ends as a fault does.
    throw machine_fault("unhandled C++ exception of type " + type + " thrown from " + cpu_.describe(from));
}

void process::runtime::frameHandler(native_call& call) {
    const uint32_t record = call.arg(0);
    const uint32_t node = call.arg(1);
    const uint32_t funcInfo = cpu_.get(reg::eax);
    const uint32_t magic = cpu_.read32(funcInfo);
    if (magic < cxx_magic || magic > cxx_magic + 2)
        throw machine_fault("__CxxFrameHandler3 was given no FuncInfo (EAX " + cpu_.describe(funcInfo) + ")");
    call.result = continue_search;
    if (cpu_.read32(record + 4) & unwinding) {
        unwindFrame(node, funcInfo, -1);
        return;
    }
    if (cpu_.read32(record) != cxx_exception || cpu_.read32(record + 20) != cxx_magic) return;
    const uint32_t info = cpu_.read32(record + 28);
    const int32_t state = static_cast<int32_t>(cpu_.read32(node + 8));
    const uint32_t tryBlocks = cpu_.read32(funcInfo + 12), tryMap = cpu_.read32(funcInfo + 16);
    for (uint32_t i = 0; i < tryBlocks; ++i) {
        const uint32_t tryBlock = tryMap + i * 20;
        const int32_t low = static_cast<int32_t>(cpu_.read32(tryBlock));
        const int32_t high = static_cast<int32_t>(cpu_.read32(tryBlock + 4));
        if (state < low || state > high) continue;
        const uint32_t catches = cpu_.read32(tryBlock + 12), handlers = cpu_.read32(tryBlock + 16);
        for (uint32_t h = 0; h < catches; ++h) {
            uint32_t catchable = 0;
            if (matches(handlers + h * 16, info, catchable))
                catchIn(record, node, funcInfo, tryBlock, handlers + h * 16, catchable);
        }
    }
}

bool process::runtime::matches(uint32_t handler, uint32_t info, uint32_t& catchable) const {
    const uint32_t adjectives = cpu_.read32(handler);
    const uint32_t type = cpu_.read32(handler + 4);
    catchable = 0;
    if (!type || (adjectives & handler_all) || typeName(cpu_, type).empty()) return true;  // catch (...)
    const std::string wanted = typeName(cpu_, type);
    const uint32_t types = cpu_.read32(info + 12);
    const uint32_t count = types ? cpu_.read32(types) : 0;
    for (uint32_t i = 0; i < count && i < 4096; ++i) {
        const uint32_t candidate = cpu_.read32(types + 4 + i * 4);
        const uint32_t candidateType = cpu_.read32(candidate + 4);
        if (candidateType != type && typeName(cpu_, candidateType) != wanted) continue;
        const uint32_t properties = cpu_.read32(candidate);
        const bool reference = (adjectives & handler_reference) != 0;
        if ((properties & type_by_reference_only) && !reference) continue;
        if ((cpu_.read32(info) & 1) && reference && !(adjectives & handler_const)) continue;
        catchable = candidate;
        return true;
    }
    return false;
}

void process::runtime::unwindFrame(uint32_t node, uint32_t funcInfo, int32_t toState) {
    const int32_t maxState = static_cast<int32_t>(cpu_.read32(funcInfo + 4));
    const uint32_t map = cpu_.read32(funcInfo + 8);
    int32_t state = static_cast<int32_t>(cpu_.read32(node + 8));
    while (state > toState) {
        if (state >= maxState)
            throw machine_fault("a frame's state " + std::to_string(state) + " is beyond its unwind map (" +
                                std::to_string(maxState) + " states)");
        const uint32_t entry = map + static_cast<uint32_t>(state) * 8;
        const int32_t next = static_cast<int32_t>(cpu_.read32(entry));
        const uint32_t action = cpu_.read32(entry + 4);
        if (next >= state) throw machine_fault("a frame's unwind map does not lead down from state " + std::to_string(state));
        // The state moves first, so an action that throws does not run again.
        cpu_.write32(node + 8, static_cast<uint32_t>(next));
        if (action) cpu_.call(action, {}, convention::cdecl_call, 0, node + 12);
        state = next;
    }
}

void process::runtime::catchIn(uint32_t record, uint32_t node, uint32_t funcInfo, uint32_t tryBlock,
                               uint32_t handler, uint32_t catchable) {
    const uint32_t object = cpu_.read32(record + 24);
    const uint32_t info = cpu_.read32(record + 28);
    const uint32_t teb = cpu_.threadBlock();

    // The frames above this one unwind, newest first.
    const uint32_t flags = cpu_.read32(record + 4);
    cpu_.write32(record + 4, flags | 2);
    for (uint32_t above = cpu_.read32(teb); above != node; above = cpu_.read32(teb)) {
        if (above == chain_end) throw machine_fault("the catching frame left the exception handler chain");
        cpu_.call(cpu_.read32(above + 4), {record, above, 0, 0});
        cpu_.write32(teb, cpu_.read32(above));
    }
    cpu_.write32(record + 4, flags);

    const uint32_t frame = node + 12;
    const uint32_t place = cpu_.read32(handler + 8);
    if (catchable && place) {
        const uint32_t adjectives = cpu_.read32(handler);
        uint32_t source = object + cpu_.read32(catchable + 8);
        const int32_t vbaseAt = static_cast<int32_t>(cpu_.read32(catchable + 12));
        if (vbaseAt >= 0) {
            const uint32_t table = cpu_.read32(object + static_cast<uint32_t>(vbaseAt));
            source += cpu_.read32(table + cpu_.read32(catchable + 16)) + static_cast<uint32_t>(vbaseAt);
        }
        const uint32_t copy = cpu_.read32(catchable + 24);
        if (adjectives & handler_reference) {
            cpu_.write32(frame + place, source);
        } else if (copy) {
            if (cpu_.read32(catchable) & type_has_virtual_base)
                cpu_.call(copy, {source, 1}, convention::thiscall_call, frame + place);
            else
                cpu_.call(copy, {source}, convention::thiscall_call, frame + place);
        } else {
            std::vector<uint8_t> bytes(cpu_.read32(catchable + 20));
            cpu_.read(source, bytes.data(), bytes.size());
            cpu_.write(frame + place, bytes.data(), bytes.size());
        }
    }

    unwindFrame(node, funcInfo, static_cast<int32_t>(cpu_.read32(tryBlock)));
    cpu_.write32(node + 8, cpu_.read32(tryBlock + 4) + 1);

    // The catch block keeps its own stack pointer in the frame's saved one
    // (for a throw caught inside it); the frame's is put back after it.
    const uint32_t savedStack = cpu_.read32(node - 4);
    caught_.emplace_back(object, info);
    uint32_t continuation;
    try {
        continuation = cpu_.call(cpu_.read32(handler + 12), {}, convention::cdecl_call, 0, frame);
    } catch (...) {
        caught_.pop_back();
        throw;
    }
    caught_.pop_back();
    const uint32_t destructor = cpu_.read32(info + 4);
    if (object && destructor) cpu_.call(destructor, {}, convention::thiscall_call, object);

    cpu_.write32(node - 4, savedStack);
    cpu_.write32(teb, node);
    cpu_.resumeAt(continuation, savedStack, frame);
}

}  // namespace quon::win32
