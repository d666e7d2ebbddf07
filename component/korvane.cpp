#include "korvane.h"

namespace {

const int first_matrix = 1;
const int last_matrix = 999;
const int destination_database = 1;
const int retry_timer = 1;
const int retry_interval = 10000;
const char* const panel = "1";
const char* const control = "myMimic";

bool usableMatrix(int matrix) { return matrix >= first_matrix && matrix <= last_matrix; }

quon_string numberText(int value) { return quon_string(value, 0, 0, 10); }

}  // namespace

Korvane::Korvane(quon_client_callback* host, const char* path)
    : quon_script_helper(host, path), myMatrix(0), myDestination(0), mySourceDB(0), mySource(0), revertiveSeen(false), sourceKnown(true) {
    panelShow(numberText(1), "umdMimic.quon_ui", "");
}

Korvane::~Korvane() {
    if (myMatrix >= 1 && myDestination >= 1) {
        routerUnregister(myMatrix);
        myMatrix = 0;
        myDestination = 0;
    }
    // Until a revertive arrives the retry timer is taken to be running.
    if (!revertiveSeen) timerStop(retry_timer);
}

void Korvane::buttonCallback(buttonNotify*) {}

int Korvane::setDestination(int matrix, int destination) {
    const int oldMatrix = myMatrix;
    const bool oldMatrixUsable = usableMatrix(oldMatrix);

    bool matrixChanged = false;
    if (matrix != oldMatrix && usableMatrix(matrix)) {
        myMatrix = matrix;
        matrixChanged = true;
        // A source number names a different source on another router. The
        // first router starts from source 0, as the display does.
        if (oldMatrixUsable) sourceKnown = false;
    }

    bool destinationChanged = false;
    bool destinationUsable = false;
    if (destination == myDestination) {
        // The kept destination is not measured against a new router.
        destinationUsable = destination >= 1;
    } else if (destination >= 1 && (oldMatrixUsable || matrixChanged) &&
               destination <= databaseSize(myMatrix, destination_database)) {
        myDestination = destination;
        destinationChanged = true;
        destinationUsable = true;
    }

    if (!matrixChanged && !destinationChanged) return 0;
    if (oldMatrixUsable) routerUnregister(oldMatrix);
    if (!destinationUsable) return 0;

    routerRegister(myMatrix, myDestination, myDestination, false);
    routerPoll(myMatrix, myDestination, myDestination);
    revertiveSeen = false;
    timerStart(retry_timer, retry_interval);
    return 1;
}

void Korvane::timerCallback(int id) {
    if (id != retry_timer) {
        timerStop(id);
    } else if (myMatrix > 0 && myDestination > 0) {
        // Keeps polling until a revertive stops the timer.
        routerPoll(myMatrix, myDestination, myDestination);
    } else {
        timerStop(retry_timer);
    }
}

int Korvane::revertiveCallback(revertiveNotify* notify) {
    if (notify->device() != myMatrix || notify->index() != myDestination) return 0;
    if (!revertiveSeen) {
        revertiveSeen = true;
        timerStop(retry_timer);
    }
    if (sourceKnown && notify->info() == mySource) return 0;
    mySource = notify->info();
    sourceKnown = true;
    showSourceName();
    hostNotify(quon_string("sourceid=%1").arg(mySource, 0, 0, 10));
    return 0;
}

void Korvane::databaseCallback(databaseNotify* notify) {
    if (sourceKnown && notify->device() == myMatrix && notify->database() == mySourceDB &&
        notify->index() == mySource)
        showSourceName();
}

void Korvane::showSourceName() {
    quon_string name;
    routerName(myMatrix, mySourceDB, mySource, name);
    textPut("text", name, panel, control);
}

quon_string Korvane::parentCallback(parentNotify* notify) {
    const quon_string command = notify->command();
    const quon_string value = notify->value();

    if (command == "return") return returnSetting(value);
    if (command == "instance") return selectInstance(value);
    if (command == "myMatrix") {
        if (instance.length() == 0) setDestination(value.firstInt(), myDestination);
        return quon_string();
    }
    if (command == "myDestination") {
        if (instance.length() == 0) setDestination(myMatrix, value.firstInt());
        return quon_string();
    }
    if (command == "mySourceDB") return selectSourceDatabase(value.firstInt());
    if (command == "myStatesheet") return selectStatesheet(value);
    if (command == "_events") return "sourceid=*";
    if (command == "_commands") {
        quon_stringlist commands;
        commands << "myMatrix=[value]"
                 << "myDestination=[value]"
                 << "mySourceDB=[value]"
                 << "myStatesheet=[value]";
        return commands.toString('\n');
    }
    return quon_string();
}

quon_string Korvane::returnSetting(const quon_string& name) const {
    if (name == "all") {
        quon_stringlist settings;
        settings << quon_string("myMatrix=%1").arg(myMatrix, 0, 0, 10)
                 << quon_string("myDestination=%1").arg(myDestination, 0, 0, 10)
                 << quon_string("mySourceDB=%1").arg(mySourceDB, 0, 0, 10)
                 << quon_string("myStatesheet=%1").arg(myStatesheet);
        return settings.toString('\n');
    }
    if (name == "myMatrix") return quon_string("%1=%2").arg(name).arg(myMatrix, 0, 0, 10);
    if (name == "myDestination") return quon_string("%1=%2").arg(name).arg(myDestination, 0, 0, 10);
    return quon_string();
}

quon_string Korvane::selectInstance(const quon_string& name) {
    if (name == static_cast<const char*>(instance)) return quon_string();
    // The name stays stored whatever the lookup finds.
    instance = name;
    int device = 0;
    int index = 0;
    getDev(instance, &device, &index);
    if (usableMatrix(device) && index >= 1 && index <= databaseSize(device, destination_database))
        setDestination(device, index);
    return quon_string();
}

quon_string Korvane::selectSourceDatabase(int database) {
    if (database < 0 || database == mySourceDB) return quon_string();
    mySourceDB = database;
    // Until the new router reports its source, the number stored belongs to
    // the old router: the first revertive names it from this database.
    if (sourceKnown) showSourceName();
    return quon_string();
}

quon_string Korvane::selectStatesheet(const quon_string& statesheet) {
    if (statesheet == static_cast<const char*>(myStatesheet)) return quon_string();
    myStatesheet = statesheet;
    textPut("statesheet", myStatesheet, panel, control);
    return quon_string();
}
