#include "quon/script/quon_script_helper.h"

namespace {

// Reads an alarm control's state as toInt reads a number (blanks, a sign,
// digits). False when no digit stands there: no reply, a reply for another
// property, or a text that is no number. toInt's -1 for that case is not a
// state and must not be taken for one.
bool readAlarmState(const quon_string& text, int& state) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    state = text.toInt();
    return true;
}

}  // namespace

bool quon_script_helper::filterAlarmEvent(const buttonNotify& event) {
    const quon_string id = event.id();
    if (id == "ActionAll" && event.command() == "alarm") {
        alarmAction(event.value());
        return true;
    }
    if (id == "AckAll") {
        alarmAction(quon_string(4, 0, 0, 10));
        return true;
    }
    return false;
}

void quon_script_helper::alarmAction(const quon_string& action) {
    // Level 4 acknowledges; a one-character action is a level of its own;
    // anything else only sets the "alarm" property.
    const int acknowledge = 4;
    int level = -1;
    if (action == "ack")
        level = acknowledge;
    else if (action.length() == 1)
        level = action.toInt();

    const quon_stringlist ids = getIdList("1", "alm_");
    for (quon_stringlistIterator id = ids.begin(); id != ids.end(); ++id) {
        textPut("alarm", action, "1", *id);
        if (level == acknowledge) {
            quon_string state;
            textGet("value", "1", *id, state);
            // A state that cannot be read is left alone, as state 0 is.
            int current = 0;
            if (readAlarmState(state, current) && (current == 1 || current < 0 || current > 5))
                textPut("value", "4", "1", *id);
        } else if (level != -1) {
            textPut("value", quon_string(level, 0, 0, 10), "1", *id);
        }
    }
}
