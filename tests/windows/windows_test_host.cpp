// A Windows console host that loads Korvane.dll with LoadLibraryA and
// GetProcAddress and drives it through a few transcripts, the device file
// read through the real GetPrivateProfileStringA.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "check.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"
#include "quon_records.h"
#include "recording_host.h"

namespace {

using load_function = quon_client_callback* (*)(quon_client_callback*, const char*);

// A system folder below the temporary folder, with router 7 of 64
// destinations; VX_ROOT and VX_SYSTEM point at it.
std::string makeSystem() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "korvane-test-" + std::to_string(GetCurrentProcessId());
    for (const char* part : {"", "\\main", "\\main\\config", "\\main\\config\\system"})
        CreateDirectoryA((root + part).c_str(), nullptr);
    std::ofstream(root + "\\main\\config\\system\\dev_007.ini", std::ios::binary)
        << "[Router]\r\nName=Test\r\n\r\n[database]\r\ndatabasesize_1 = 64\r\n";
    SetEnvironmentVariableA("VX_ROOT", root.c_str());
    SetEnvironmentVariableA("VX_SYSTEM", "main");
    _putenv_s("VX_ROOT", root.c_str());
    _putenv_s("VX_SYSTEM", "main");
    return root;
}

std::string parent(quon_client_callback* component, const char* text) {
    char* reply = component->callback(const_cast<char*>(text), QUON_MSG_PARENT);
    const std::string copy = reply ? reply : "(null)";
    component->callback(reply, QUON_MSG_RELEASE);
    return copy;
}

std::vector<std::string> sent(recording_host& host) {
    const std::vector<std::string> commands = host.commands();
    host.clear();
    return commands;
}

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
    makeSystem();

    {
        recording_host host;
        quon_client_callback* component = load(&host, "panels");
        check.expectLines(sent(host), {"PS '1' 'panels/umdMimic.quon_ui'"}, "construction shows the layout");
        delete component;
        check.expectLines(sent(host), {"ET 1", "AS"}, "an idle component stops timer 1, then sends AS");
    }
    {
        recording_host host;
        quon_client_callback* component = load(&host, "");
        host.answer("SD 'big'", "7 65");
        host.answer("SD 'studio'", "7 40");
        host.answer("RN 7 0 12", "CAM 12");
        sent(host);
        check.expectEqual(parent(component, "instance=big"), "(null)", "instance reply");
        check.expectLines(sent(host), {"SD 'big'"},
                          "an index above the size read from the device file selects nothing");
        parent(component, "instance=studio");
        check.expectLines(sent(host), {"SD 'studio'", "RR 7 40 40", "RP 7 40 40", "ET 1 10000"},
                          "an instance within the router's 64 destinations is registered");

        revertiveRecord revertive{7, 0, 40, 12};
        check.expect(component->callback(&revertive, QUON_MSG_REVERTIVE) == nullptr, "a revertive returns null");
        check.expectLines(
            host.transcript(),
            {"0 ET 1", "0 RN 7 0 12", "5 CAM 12", "0 TP 'text=CAM 12' '1' 'myMimic'", "0 HN 'sourceid=12'"},
            "a revertive stops the timer, shows the name and notifies the parent");
        host.clear();

        check.expectEqual(parent(component, "return=all"),
                          "myMatrix=7\nmyDestination=40\nmySourceDB=0\nmyStatesheet=", "return=all");
        check.expectEqual(parent(component, "_commands"),
                          "myMatrix=[value]\nmyDestination=[value]\nmySourceDB=[value]\nmyStatesheet=[value]",
                          "_commands");
        check.expectEqual(parent(component, "_events"), "sourceid=*", "_events");
        check.expectEqual(parent(component, "return=mySourceDB"), "(null)", "return=mySourceDB");
        check.expect(component->callback(nullptr, 8) == nullptr && component->callback(nullptr, -1) == nullptr,
                     "unknown message types return null");
        delete component;
        check.expectLines(sent(host), {"RU 7", "AS"}, "a watching component unregisters, then sends AS");
        for (const std::string& problem : host.problems()) check.expect(false, problem);
    }
    FreeLibrary(module);
    return check.finish();
}
