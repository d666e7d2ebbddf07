// A Windows console host that loads Korvane.dll with LoadLibraryA and
// GetProcAddress and drives it through a few transcripts, the device file
// read through the real GetPrivateProfileStringA. Built in the DLL's ABI,
// it calls `callback` and the virtual destructor through the vtable as a
// host built with the Microsoft compiler does.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>

#include "check.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"
#include "quon_records.h"
#include "windows_recording_host.h"

namespace {

using load_function = quon_client_callback* (*)(quon_client_callback*, const char*);

bool writeFile(const text& path, const char* contents) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(text(contents).size());
    const bool ok = WriteFile(file, contents, size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

// A system folder below the temporary folder, with router 7 of 64
// destinations; VX_ROOT and VX_SYSTEM point at it, in the environment of
// the process and in the C runtime's copy, which the module reads.
bool makeSystem() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const text root = text(temp) + "korvane-test-" + decimal(static_cast<long>(GetCurrentProcessId()));
    const char* const parts[] = {"", "\\main", "\\main\\config", "\\main\\config\\system"};
    for (const char* part : parts) CreateDirectoryA((root + part).c_str(), nullptr);
    const bool written = writeFile(root + "\\main\\config\\system\\dev_007.ini",
                                   "[Router]\r\nName=Test\r\n\r\n[database]\r\ndatabasesize_1 = 64\r\n");
    SetEnvironmentVariableA("VX_ROOT", root.c_str());
    SetEnvironmentVariableA("VX_SYSTEM", "main");
    return written && _putenv(("VX_ROOT=" + root).c_str()) == 0 && _putenv("VX_SYSTEM=main") == 0;
}

text parent(quon_client_callback* component, const char* command) {
    char* reply = component->callback(const_cast<char*>(command), QUON_MSG_PARENT);
    const text copy = reply ? reply : "(null)";
    component->callback(reply, QUON_MSG_RELEASE);
    return copy;
}

text_list sent(windows_recording_host& host) {
    const text_list commands = host.commands();
    host.clear();
    return commands;
}

void* carried(intptr_t value) { return reinterpret_cast<void*>(value); }

}  // namespace

int main() {
    check_results check;
    HMODULE module = LoadLibraryA("Korvane.dll");
    check.expect(module != nullptr, "LoadLibraryA(\"Korvane.dll\")");
    const auto load = module ? reinterpret_cast<load_function>(
                                   reinterpret_cast<void*>(GetProcAddress(module, "load_quon_client_script")))
                             : nullptr;
    check.expect(load != nullptr, "GetProcAddress(\"load_quon_client_script\")");
    if (!load) return check.finish();
    check.expect(makeSystem(), "the system folder and its device file are written");

    {
        windows_recording_host host;
        quon_client_callback* component = load(&host, "panels");
        check.expectLines(sent(host), lines("PS '1' 'panels/umdMimic.quon_ui'"), "construction shows the layout");
        delete component;
        check.expectLines(sent(host), lines("ET 1", "AS"), "an idle component stops timer 1, then sends AS");
    }
    {
        windows_recording_host host;
        quon_client_callback* component = load(&host, "");
        host.answer("SD 'big'", "7 65");
        host.answer("SD 'studio'", "7 40");
        host.answer("RN 7 0 12", "CAM 12");
        host.answer("RN 7 0 13", "VT 13");
        sent(host);
        check.expectEqual(parent(component, "instance=big"), "(null)", "instance reply");
        check.expectLines(host.transcript(), lines("0 SD 'big'", "5 7 65"),
                          "an index above the size read from the device file selects nothing; the reply is handed back");
        host.clear();
        parent(component, "instance=studio");
        check.expectLines(sent(host), lines("SD 'studio'", "RR 7 40 40", "RP 7 40 40", "ET 1 10000"),
                          "an instance within the router's 64 destinations is registered");

        check.expect(component->callback(carried(1), QUON_MSG_TIMER) == nullptr, "a timer tick returns null");
        check.expectLines(sent(host), lines("RP 7 40 40"), "the retry timer polls until a revertive arrives");
        component->callback(carried(3), QUON_MSG_TIMER);
        check.expectLines(sent(host), lines("ET 3"), "a timer the component does not use is stopped");

        revertiveRecord revertive{7, 0, 40, 12};
        check.expect(component->callback(&revertive, QUON_MSG_REVERTIVE) == nullptr, "a revertive returns null");
        check.expectLines(
            host.transcript(),
            lines("0 ET 1", "0 RN 7 0 12", "5 CAM 12", "0 TP 'text=CAM 12' '1' 'myMimic'", "0 HN 'sourceid=12'"),
            "a revertive stops the timer, shows the name and notifies the parent");
        host.clear();
        revertiveRecord other{7, 0, 41, 13};
        component->callback(&other, QUON_MSG_REVERTIVE);
        check.expectLines(sent(host), lines(), "a revertive for another destination is ignored");

        databaseRecord change{7, 0, 12};
        check.expect(component->callback(&change, QUON_MSG_DATABASE) == nullptr, "a database change returns null");
        check.expectLines(host.transcript(), lines("0 RN 7 0 12", "5 CAM 12", "0 TP 'text=CAM 12' '1' 'myMimic'"),
                          "a change of the routed source's name is shown again");
        host.clear();
        databaseRecord unrelated{7, 0, 13};
        component->callback(&unrelated, QUON_MSG_DATABASE);
        check.expectLines(sent(host), lines(), "a change of another source's name is ignored");

        check.expectEqual(parent(component, "return=all"),
                          "myMatrix=7\nmyDestination=40\nmySourceDB=0\nmyStatesheet=", "return=all");
        check.expectEqual(parent(component, "_commands"),
                          "myMatrix=[value]\nmyDestination=[value]\nmySourceDB=[value]\nmyStatesheet=[value]",
                          "_commands");
        check.expectEqual(parent(component, "_events"), "sourceid=*", "_events");
        check.expectEqual(parent(component, "return=mySourceDB"), "(null)", "return=mySourceDB");
        check.expect(component->callback(nullptr, 8) == nullptr && component->callback(nullptr, -1) == nullptr,
                     "unknown message types return null");
        host.clear();
        delete component;
        check.expectLines(sent(host), lines("RU 7", "AS"), "a watching component unregisters, then sends AS last");
        const text_list problems = host.problems();
        for (size_t i = 0; i < problems.size(); ++i) check.expect(false, problems[i]);
    }
    FreeLibrary(module);
    return check.finish();
}
