// bare_component: a component with no host link and handlers that do
// nothing, for calling the base's host-free operations (databaseSize).
#ifndef QUON_TEST_BARE_COMPONENT_H
#define QUON_TEST_BARE_COMPONENT_H

#include "quon/script/quon_script_helper.h"

class bare_component : public quon_script_helper {
public:
    bare_component() : quon_script_helper(nullptr, "") {}
    void buttonCallback(buttonNotify*) override {}
    int revertiveCallback(revertiveNotify*) override { return 0; }
    quon_string parentCallback(parentNotify*) override { return quon_string(); }
    void timerCallback(int) override {}
};

#endif
