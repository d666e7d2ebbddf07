#include "quon_script_helper.h"

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
            const int current = state.toInt();
            if (current == 1 || current < 0 || current > 5) textPut("value", "4", "1", *id);
        } else if (level != -1) {
            textPut("value", quon_string(level, 0, 0, 10), "1", *id);
        }
    }
}
