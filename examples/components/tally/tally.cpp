#include "tally.h"

Tally::Tally(quon_client_callback* host, const char* path)
    : quon_script_helper(host, path), tally(false), lit(false), blinkInterval(0), cameraDevice(0), cameraIndex(0) {
    // The base handles the panel's ActionAll and AckAll buttons.
    alarmHandling = true;
    panelShow("1", "tally.quon_ui", "");
}

Tally::~Tally() {
    if (tally && blinkInterval > 0) timerStop(blink_timer);
    if (cameraDevice > 0) routerUnregister(cameraDevice);
}

void Tally::buttonCallback(buttonNotify* notify) {
    // An operator's press on the lamp toggles the tally.
    if (notify->id() == "myMimic") setTally(!tally);
}

int Tally::revertiveCallback(revertiveNotify*) {
    // Registered only to hear of renamed entries: routes do not matter here.
    return 0;
}

quon_string Tally::parentCallback(parentNotify* notify) {
    const quon_string command = notify->command();
    const quon_string value = notify->value();
    if (command == "tally") {
        const int state = value.toInt();
        if (state == 0 || state == 1) setTally(state == 1);
        return quon_string();
    }
    if (command == "blink") {
        const int interval = value.toInt();
        if (interval >= 0) setBlink(interval);
        return quon_string();
    }
    if (command == "camera") return selectCamera(value);
    if (command == "alarm") {
        if (value.length() > 0) alarmAction(value);
        return quon_string();
    }
    if (command == "return" && value == "tally") return tally ? "tally=1" : "tally=0";
    return quon_string();
}

void Tally::valueCallback(int* value) { setTally(*value != 0); }

void Tally::timerCallback(int id) {
    if (id != blink_timer || !tally || blinkInterval == 0) return;
    showLamp(!lit);
}

void Tally::databaseCallback(databaseNotify* notify) {
    if (notify->device() == cameraDevice && notify->database() == source_names && notify->index() == cameraIndex)
        showCameraName();
}

void Tally::setTally(bool on) {
    if (on == tally) return;
    tally = on;
    showLamp(on);
    hostNotify(on ? "tally=1" : "tally=0");
    if (blinkInterval > 0) {
        if (on)
            timerStart(blink_timer, blinkInterval);
        else
            timerStop(blink_timer);
    }
}

void Tally::setBlink(int interval) {
    if (interval == blinkInterval) return;
    blinkInterval = interval;
    if (!tally) return;
    if (interval > 0) {
        timerStart(blink_timer, interval);
    } else {
        timerStop(blink_timer);
        showLamp(true);
    }
}

// "DEVICE,INDEX": the source entry whose name the lamp shows; the index
// must lie within the device's source database.
quon_string Tally::selectCamera(const quon_string& value) {
    quon_string deviceText;
    quon_string indexText;
    if (value.split(',', deviceText, indexText) < 0) return quon_string();
    const int device = deviceText.toInt();
    const int index = indexText.toInt();
    if (device < 1 || device > 999 || index < 1 || index > databaseSize(device, source_names)) return quon_string();
    if (device != cameraDevice) {
        if (cameraDevice > 0) routerUnregister(cameraDevice);
        // A registration on the router brings its renamed entries.
        routerRegister(device, 1, 1, false);
    }
    cameraDevice = device;
    cameraIndex = index;
    showCameraName();
    return quon_string();
}

void Tally::showCameraName() {
    quon_string name;
    routerName(cameraDevice, source_names, cameraIndex, name);
    textPut("text", name, "1", "myMimic");
}

void Tally::showLamp(bool on) {
    lit = on;
    textPut("statesheet", on ? "tally_on" : "tally_off", "1", "myMimic");
}
