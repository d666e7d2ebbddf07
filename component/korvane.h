// Korvane: shows on control `myMimic` of panel "1" the name of the source
// routed to one destination of one router, keeps it current from the
// router's revertives and tells the parent panel the source number.
#ifndef KORVANE_H
#define KORVANE_H

#include "quon/script/quon_script_helper.h"

class Korvane : public quon_script_helper {
public:
    // `host` is not owned; `path` is the folder of panel layout files.
    Korvane(quon_client_callback* host, const char* path);
    // Unregisters the router and stops the retry timer when it may run.
    ~Korvane() override;

    void buttonCallback(buttonNotify* notify) override;
    int revertiveCallback(revertiveNotify* notify) override;
    quon_string parentCallback(parentNotify* notify) override;
    void timerCallback(int id) override;
    void databaseCallback(databaseNotify* notify) override;

    // Selects the watched destination. Returns 1 when a new registration
    // was made, else 0.
    int setDestination(int matrix, int destination);

private:
    quon_string selectInstance(const quon_string& name);
    quon_string selectSourceDatabase(int database);
    quon_string selectStatesheet(const quon_string& statesheet);
    quon_string returnSetting(const quon_string& name) const;
    void showSourceName();

    quon_string instance;
    quon_string myStatesheet;
    int myMatrix;
    int myDestination;
    int mySourceDB;
    int mySource;
    bool revertiveSeen;
    // False from a change of router until its first revertive: `mySource`
    // then is the old router's number, neither shown again nor compared.
    bool sourceKnown;
};

#endif
