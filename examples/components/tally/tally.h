// Tally: a tally lamp for one camera, and its alarms. A template for a
// component built on the kit (copy this folder and rename).
//
// Panel "1" (panels/tally.quon_ui) holds `myMimic`, the control a wall
// shows: its text is the camera's source name, its state sheet the lamp
// (`tally_on`, `tally_off`); and alarm controls `alm_...`. The tally is
// switched by the parent panel (`tally=0|1`), by an operator pressing the
// lamp, or by the host's integer message (non-zero: on); the parent is told
// `tally=N` whenever it changes. While on, the lamp can blink on a timer of
// the component's own (`blink=MS`). The name follows renames of the
// camera's source entry. Alarm actions come from the parent
// (`alarm=ACTION`) or from the panel's `ActionAll`/`AckAll` buttons, which
// the base handles.
#ifndef TALLY_H
#define TALLY_H

#include "quon/script/quon_script_helper.h"

class Tally : public quon_script_helper {
public:
    // `host` is not owned; `path` is the folder of panel layout files.
    Tally(quon_client_callback* host, const char* path);
    // Stops the blink timer and drops the router registration, if any.
    ~Tally() override;

    void buttonCallback(buttonNotify* notify) override;
    int revertiveCallback(revertiveNotify* notify) override;
    quon_string parentCallback(parentNotify* notify) override;
    void valueCallback(int* value) override;
    void timerCallback(int id) override;
    void databaseCallback(databaseNotify* notify) override;

private:
    enum { blink_timer = 1, source_names = 0 };

    void setTally(bool on);
    void setBlink(int interval);
    quon_string selectCamera(const quon_string& value);
    void showCameraName();
    void showLamp(bool lit);

    bool tally;
    bool lit;           // the lamp as shown: blinking turns it off and on
    int blinkInterval;  // milliseconds; 0: steady
    int cameraDevice;   // 0: no camera
    int cameraIndex;
};

#endif
